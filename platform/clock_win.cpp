#include <windows.h>

#include <cstdint>

#include "platform/clock.h"

namespace quarnel {
namespace {

// 100-nanosecond intervals between 1601-01-01 (FILETIME's start) and 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000;

}  // namespace

std::int64_t LocalClockSeconds() {
    // The local fields, read as if they were UTC.
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    FILETIME asUtc{};
    if (!::SystemTimeToFileTime(&local, &asUtc)) {
        return 0;
    }
    const std::int64_t intervals =
        (static_cast<std::int64_t>(asUtc.dwHighDateTime) << 32) | asUtc.dwLowDateTime;
    return (intervals - kUnixEpochInFileTime) / 10000000;
}

std::int64_t MonotonicMilliseconds() {
    return static_cast<std::int64_t>(::GetTickCount64());
}

}  // namespace quarnel
