// The clock on Windows.
#include <ctime>

#include "batch/clock.h"

namespace {

// The last moment the runtime converts: 3000-12-31 23:59:59 UTC.
constexpr int64_t kLatestRuntimeTime = 32535215999LL;

bool LocalTimeOf(int64_t seconds, std::tm& local) {
    if (seconds < 0 || seconds > kLatestRuntimeTime) return false;
    const __time64_t time = seconds;
    return _localtime64_s(&local, &time) == 0;
}

}  // namespace

int64_t CurrentTimeSeconds() { return _time64(nullptr); }

LocalDateTime ToLocalDateTime(int64_t secondsSince1970) {
    // The runtime covers 1970 to 3000 only.
    return LocalDateTimeThrough(LocalTimeOf, secondsSince1970);
}
