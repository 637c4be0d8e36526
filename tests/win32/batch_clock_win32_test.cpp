// The clock on Windows: the local time of any 64-bit moment, also beyond the
// runtime's range (1970 to 3000).
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "batch/clock.h"
#include "support/civil_calendar.h"

namespace {

using namespace testing_support;

// The local offset in winter and in summer of a year the runtime handles;
// the rules of today are applied to any year.
int64_t OffsetOn(int month) {
    const int64_t utc = DaysFromCivil(2024, month, 15) * 86400 + 12 * 3600;
    return SecondsOf(ToLocalDateTime(utc)) - utc;
}

TEST(ClockWin32, AnyDateBeyondTheRuntimesRangeIsConverted) {
    struct Case {
        int64_t year;
        int month;
    };
    for (const Case c : {Case{3001, 1}, Case{3024, 7}, Case{9999, 12}, Case{1969, 7}, Case{1601, 1},
                         Case{-4000, 7}, Case{123456789, 7}}) {
        const int64_t utc = DaysFromCivil(c.year, c.month, 15) * 86400 + 12 * 3600 + 34 * 60 + 56;
        EXPECT_EQ(DateText(ToLocalDateTime(utc)), DateText(CivilFromSeconds(utc + OffsetOn(c.month)))) << utc;
    }
}

TEST(ClockWin32, ExtremesNeitherOverflowNorCrash) {
    // INT64_MAX is 292277026596-12-04 15:30:07 UTC; INT64_MIN is
    // -292277022657-01-27 08:29:52 UTC.  No offset moves those across a year.
    EXPECT_EQ(ToLocalDateTime(INT64_MAX).year, 292277026596);
    EXPECT_EQ(ToLocalDateTime(INT64_MAX).month, 12);
    EXPECT_EQ(ToLocalDateTime(INT64_MIN).year, -292277022657);
    EXPECT_EQ(ToLocalDateTime(INT64_MIN).month, 1);
}

TEST(ClockWin32, SecondsRunOnAcrossTheEdgesOfTheRuntimesRange) {
    const int64_t lastOf3000 = DaysFromCivil(3001, 1, 1) * 86400 - 1;
    for (const int64_t edge : {int64_t{0}, lastOf3000}) {
        for (int64_t t = edge - 2; t <= edge + 2; ++t)
            EXPECT_EQ(SecondsOf(ToLocalDateTime(t + 1)) - SecondsOf(ToLocalDateTime(t)), 1) << t;
    }
}

}  // namespace
