#pragma once

#include <cstdint>
#include <ctime>

// The wall clock's time, to the millisecond.
struct WallClockTime {
    int64_t seconds = 0;  // since 1970-01-01 00:00 UTC
    uint16_t milliseconds = 0;
};

// Reads the time zone's rules once, before any thread asks for a local time: from then on
// LocalTime only reads them (the C library guards them with a lock of its own that
// ThreadSanitizer cannot see, and another thread's mktime would set them up again).
void PrepareLocalTime();

WallClockTime WallClockNow();

// `seconds` since 1970 as the local calendar time; safe to call from any thread.
std::tm LocalTime(int64_t seconds);
