#include <time.h>

#include <cstdint>

#include "platform/clock.h"

namespace quarnel {

std::int64_t LocalClockSeconds() {
    const time_t now = ::time(nullptr);
    struct tm local = {};
    if (::localtime_r(&now, &local) == nullptr) {
        return static_cast<std::int64_t>(now);
    }
    return static_cast<std::int64_t>(::timegm(&local));
}

std::int64_t UtcClockSeconds() {
    return static_cast<std::int64_t>(::time(nullptr));
}

std::int64_t LocalClockAt(std::int64_t utcSeconds) {
    const time_t time = static_cast<time_t>(utcSeconds);
    struct tm local = {};
    if (::localtime_r(&time, &local) == nullptr) {
        return utcSeconds;
    }
    return static_cast<std::int64_t>(::timegm(&local));
}

std::int64_t UtcOfLocalClock(std::int64_t localSeconds) {
    const time_t fields = static_cast<time_t>(localSeconds);
    struct tm local = {};
    if (::gmtime_r(&fields, &local) == nullptr) {
        return localSeconds;
    }
    local.tm_isdst = -1;  // whichever the local rules say for that day and hour
    const time_t utc = ::mktime(&local);
    return utc == static_cast<time_t>(-1) ? localSeconds : static_cast<std::int64_t>(utc);
}

std::int64_t MonotonicMilliseconds() {
    struct timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace quarnel
