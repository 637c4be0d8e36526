// The clock on Linux.
#include <ctime>

#include "batch/clock.h"

namespace {

bool LocalTimeOf(int64_t secondsSince1970, std::tm& local) {
    const time_t time = static_cast<time_t>(secondsSince1970);
    return localtime_r(&time, &local) != nullptr;
}

}  // namespace

int64_t CurrentTimeSeconds() { return static_cast<int64_t>(time(nullptr)); }

LocalDateTime ToLocalDateTime(int64_t secondsSince1970) {
    // localtime_r fails only where the year no longer fits its int.
    return LocalDateTimeThrough(LocalTimeOf, secondsSince1970);
}
