#include "platform/LocalTime.h"

#include <windows.h>

#include <time.h>

namespace {

// FILETIME counts 100-nanosecond steps from 1601-01-01 00:00 UTC.
constexpr int64_t kStepsPerSecond = 10000000;
constexpr int64_t kStepsPerMillisecond = 10000;
constexpr int64_t kStepsFrom1601To1970 = 116444736000000000;

}  // namespace

void PrepareLocalTime() {
    _tzset();
}

// The precise clock: the plain one moves in steps of the timer tick (often 15.6 ms), too coarse
// for the log's milliseconds.
WallClockTime WallClockNow() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const int64_t steps = static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                                               now.dwLowDateTime) -
                          kStepsFrom1601To1970;
    WallClockTime time;
    time.seconds = steps / kStepsPerSecond;
    time.milliseconds = static_cast<uint16_t>((steps % kStepsPerSecond) / kStepsPerMillisecond);
    return time;
}

std::tm LocalTime(int64_t seconds) {
    const __time64_t time = seconds;
    std::tm local{};
    _localtime64_s(&local, &time);
    return local;
}
