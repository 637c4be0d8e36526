// The parts of the clock that are the same on every platform.
#include "batch/clock.h"

namespace {

// 400 Gregorian years hold a whole number of days and weeks: a moment moved
// by such cycles keeps its month, day, weekday and time of day.
constexpr int64_t kSecondsPer400Years = 146097LL * 86400;

LocalDateTime FromTm(const std::tm& local, int64_t extraYears) {
    LocalDateTime moment;
    moment.year = int64_t{local.tm_year} + 1900 + extraYears;
    moment.month = local.tm_mon + 1;
    moment.day = local.tm_mday;
    moment.hour = local.tm_hour;
    moment.minute = local.tm_min;
    moment.second = local.tm_sec;
    return moment;
}

}  // namespace

LocalDateTime LocalDateTimeThrough(RuntimeLocalTime convert, int64_t secondsSince1970) {
    std::tm local{};
    if (convert(secondsSince1970, local)) return FromTm(local, 0);
    // The same moment in the cycle from 2370 to 2769, converted with the
    // zone's rule for those years, then moved back by whole cycles.  Floor
    // division keeps every step inside 64 bits.
    int64_t cycles = secondsSince1970 / kSecondsPer400Years;
    int64_t rest = secondsSince1970 % kSecondsPer400Years;
    if (rest < 0) {
        rest += kSecondsPer400Years;
        --cycles;
    }
    if (!convert(rest + kSecondsPer400Years, local)) return LocalDateTime();
    return FromTm(local, (cycles - 1) * 400);
}
