#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel {

// The program's clock: the local wall-clock date and time counted in seconds since
// 1970-01-01 00:00:00, the local fields read as if they were UTC. Stored values (settings and
// outcome times) and the debug log use it.
std::int64_t LocalClockSeconds();

// Milliseconds of a clock that never jumps with the wall clock, for time-outs and deadlines.
std::int64_t MonotonicMilliseconds();

// Formats seconds as UTC fields with the tokens %yyyy, %yy, %mm, %dd, %hh, %ii and %ss (all
// zero-padded); every other character is copied.
std::string FormatClock(std::string_view pattern, std::int64_t seconds);

}  // namespace quarnel
