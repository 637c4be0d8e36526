#pragma once
// A moment of the calendar in the local time zone: the clock reads it
// from the platform, the name engine writes it into new names.
#include <cstdint>

struct LocalDateTime {
    int64_t year = 1970;
    int month = 1;  // 1 to 12
    int day = 1;    // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};
