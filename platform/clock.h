#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel {

// The program's clock: the local wall-clock date and time counted in seconds since
// 1970-01-01 00:00:00, the local fields read as if they were UTC. Stored values (settings and
// outcome times) and the debug log use it.
std::int64_t LocalClockSeconds();

// Seconds since 1970-01-01 00:00:00 UTC: the system's own clock, which no change of time zone or
// summer time moves.
std::int64_t UtcClockSeconds();
// The program's clock (LocalClockSeconds' unit) at a UTC time, and the way back. The way back
// takes the local rules in force at that time; of two readings that the local clock shows twice
// (when it is set back in autumn) it takes one.
std::int64_t LocalClockAt(std::int64_t utcSeconds);
std::int64_t UtcOfLocalClock(std::int64_t localSeconds);

// Milliseconds of a clock that never jumps with the wall clock, for time-outs and deadlines.
std::int64_t MonotonicMilliseconds();

// Formats seconds as UTC fields with the tokens %yyyy, %yy, %mm, %dd, %hh, %ii and %ss (all
// zero-padded); every other character is copied.
std::string FormatClock(std::string_view pattern, std::int64_t seconds);

}  // namespace quarnel
