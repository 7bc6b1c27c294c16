#include <time.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

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

std::string FormatClock(std::string_view pattern, std::int64_t seconds) {
    const time_t value = static_cast<time_t>(seconds);
    struct tm fields = {};
    if (::gmtime_r(&value, &fields) == nullptr) {
        fields = {};
        fields.tm_mday = 1;
        fields.tm_year = 70;
    }
    struct Token {
        std::string_view name;
        int value;
        int width;
    };
    const Token tokens[] = {
        {"%yyyy", fields.tm_year + 1900, 4}, {"%yy", (fields.tm_year + 1900) % 100, 2},
        {"%mm", fields.tm_mon + 1, 2},       {"%dd", fields.tm_mday, 2},
        {"%hh", fields.tm_hour, 2},          {"%ii", fields.tm_min, 2},
        {"%ss", fields.tm_sec, 2},
    };
    std::string out;
    out.reserve(pattern.size() + 8);
    for (std::size_t pos = 0; pos < pattern.size();) {
        bool matched = false;
        for (const Token& token : tokens) {
            if (pattern.substr(pos, token.name.size()) == token.name) {
                char digits[16];
                std::snprintf(digits, sizeof digits, "%0*d", token.width, token.value);
                out += digits;
                pos += token.name.size();
                matched = true;
                break;
            }
        }
        if (!matched) {
            out.push_back(pattern[pos++]);
        }
    }
    return out;
}

}  // namespace quarnel
