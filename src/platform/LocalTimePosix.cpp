#include "platform/LocalTime.h"

#include <time.h>

void PrepareLocalTime() {
    tzset();
}

WallClockTime WallClockNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    WallClockTime time;
    time.seconds = static_cast<int64_t>(now.tv_sec);
    time.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    return time;
}

std::tm LocalTime(int64_t seconds) {
    const auto time = static_cast<time_t>(seconds);
    std::tm local{};
    localtime_r(&time, &local);
    return local;
}
