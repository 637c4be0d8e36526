// The clock on Linux: the local time of any 64-bit moment, in the process's
// time zone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "batch/clock.h"
#include "support/civil_calendar.h"

using namespace testing_support;

namespace {

// Switches the process's time zone while it lives.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old, hadOld_ = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace

TEST(ClockPosix, LocalTimeFollowsTheZoneFarBeyond2038AndTheCLibrarysIntYear) {
    struct Row {
        const char* zone;
        LocalDateTime utc;
        const char* local;
    };
    const Row rows[] = {
        {"UTC0", {2024, 12, 31, 20, 30, 15}, "2024-12-31 20:30:15"},
        {"JST-9", {2024, 12, 31, 20, 30, 15}, "2025-01-01 05:30:15"},
        {"JST-9", {2040, 2, 29, 12, 0, 0}, "2040-02-29 21:00:00"},
        {"JST-9", {10000, 1, 1, 0, 0, 0}, "10000-01-01 09:00:00"},
        {"JST-9", {5'000'000'000LL, 2, 29, 14, 59, 59}, "5000000000-02-29 23:59:59"},
        {"JST-9", {123'456'789'012LL, 12, 31, 15, 0, 0}, "123456789013-01-01 00:00:00"},
        {"JST-9", {-3'000'000'000LL, 3, 1, 0, 0, 0}, "-3000000000-03-01 09:00:00"},
    };
    for (const Row& row : rows) {
        TimeZone zone(row.zone);
        EXPECT_EQ(DateText(ToLocalDateTime(SecondsOf(row.utc))), row.local) << row.zone;
    }
    EXPECT_LE(std::abs(CurrentTimeSeconds() - static_cast<int64_t>(std::time(nullptr))), 1);
}
