#pragma once
// A civil calendar independent of the C runtime, to check local dates
// against: no test framework needed, so the fuzz targets use it too.
#include <cstdint>
#include <cstdio>
#include <string>

#include "text/date_time.h"

namespace testing_support {

// Days since 1970-01-01 of a proleptic Gregorian date, and the date of a
// count of seconds: the well-known era-based formulas.
inline int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

inline int64_t SecondsOf(const LocalDateTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

inline LocalDateTime CivilFromSeconds(int64_t seconds) {
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    LocalDateTime civil;
    civil.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    civil.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    civil.year = yearOfEra + era * 400 + (civil.month <= 2);
    civil.hour = static_cast<int>(rest / 3600);
    civil.minute = static_cast<int>(rest / 60 % 60);
    civil.second = static_cast<int>(rest % 60);
    return civil;
}

// "YYYY-MM-DD hh:mm:ss", to compare whole moments and show the wrong field.
inline std::string DateText(const LocalDateTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(t.year), t.month,
                  t.day, t.hour, t.minute, t.second);
    return text;
}

}  // namespace testing_support
