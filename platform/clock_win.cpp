#include <windows.h>

#include <cstdint>

#include "platform/clock.h"

namespace quarnel {
namespace {

// 100-nanosecond intervals between 1601-01-01 (FILETIME's start) and 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000;

std::int64_t SecondsOf(const SYSTEMTIME& fields) {
    FILETIME time{};
    if (!::SystemTimeToFileTime(&fields, &time)) {
        return 0;
    }
    const std::int64_t intervals =
        (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (intervals - kUnixEpochInFileTime) / 10000000;
}

bool FieldsOf(std::int64_t seconds, SYSTEMTIME& fields) {
    const std::int64_t intervals = seconds * 10000000 + kUnixEpochInFileTime;
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(intervals & 0xFFFFFFFF);
    time.dwHighDateTime = static_cast<DWORD>(intervals >> 32);
    return ::FileTimeToSystemTime(&time, &fields) != 0;
}

}  // namespace

std::int64_t UtcClockSeconds() {
    SYSTEMTIME utc{};
    ::GetSystemTime(&utc);
    return SecondsOf(utc);
}

std::int64_t LocalClockAt(std::int64_t utcSeconds) {
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (!FieldsOf(utcSeconds, utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return utcSeconds;
    }
    return SecondsOf(local);
}

std::int64_t UtcOfLocalClock(std::int64_t localSeconds) {
    SYSTEMTIME local{};
    SYSTEMTIME utc{};
    if (!FieldsOf(localSeconds, local) ||
        !::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) {
        return localSeconds;
    }
    return SecondsOf(utc);
}

std::int64_t LocalClockSeconds() {
    // The local fields, read as if they were UTC.
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    return SecondsOf(local);
}

std::int64_t MonotonicMilliseconds() {
    return static_cast<std::int64_t>(::GetTickCount64());
}

}  // namespace quarnel
