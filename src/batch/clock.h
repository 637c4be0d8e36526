#pragma once
// The clock of the batch: the time now, for the date token and the random
// seed, and the local time of any 64-bit moment, built on the runtime's own
// conversion, which covers only part of that range.
#include <cstdint>
#include <ctime>

#include "text/date_time.h"

// Seconds since 1970 now, as a 64-bit count.
int64_t CurrentTimeSeconds();

// Local time of a count of seconds since 1970, for any 64-bit date.
LocalDateTime ToLocalDateTime(int64_t secondsSince1970);

// The runtime's conversion of a count of seconds since 1970 to local time;
// false for a moment it does not cover.
using RuntimeLocalTime = bool (*)(int64_t secondsSince1970, std::tm& local);

// Converts directly where the runtime can; elsewhere converts the same moment
// of a 400-year cycle the runtime covers and shifts the year back.  For the
// platform files of the clock.
LocalDateTime LocalDateTimeThrough(RuntimeLocalTime convert, int64_t secondsSince1970);
