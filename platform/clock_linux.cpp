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

std::int64_t MonotonicMilliseconds() {
    struct timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace quarnel
