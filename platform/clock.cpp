#include "platform/clock.h"

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace quarnel {
namespace {

using seconds_t = std::chrono::seconds;

}  // namespace

std::string FormatClock(std::string_view pattern, std::int64_t seconds) {
    // The calendar of the standard library: the same fields on every platform, for any value.
    using namespace std::chrono;
    const sys_seconds time{seconds_t(seconds)};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss<seconds_t> clock{time - day};
    const int year = static_cast<int>(date.year());
    struct Token {
        std::string_view name;
        int value;
        int width;
    };
    const Token tokens[] = {
        {"%yyyy", year, 4},
        {"%yy", ((year % 100) + 100) % 100, 2},
        {"%mm", static_cast<int>(static_cast<unsigned>(date.month())), 2},
        {"%dd", static_cast<int>(static_cast<unsigned>(date.day())), 2},
        {"%hh", static_cast<int>(clock.hours().count()), 2},
        {"%ii", static_cast<int>(clock.minutes().count()), 2},
        {"%ss", static_cast<int>(clock.seconds().count()), 2},
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
