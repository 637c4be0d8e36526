#pragma once
// For the platform files: the local time of any 64-bit moment, built on the
// runtime's own conversion, which covers only part of that range.
#include <cstdint>
#include <ctime>

#include "fs/fs.h"

// The runtime's conversion of a count of seconds since 1970 to local time;
// false for a moment it does not cover.
using RuntimeLocalTime = bool (*)(int64_t secondsSince1970, std::tm& local);

// Converts directly where the runtime can; elsewhere converts the same moment
// of a 400-year cycle the runtime covers and shifts the year back.
LocalDateTime LocalDateTimeThrough(RuntimeLocalTime convert, int64_t secondsSince1970);
