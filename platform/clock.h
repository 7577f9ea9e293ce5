#pragma once
// The local wall clock with milliseconds.

#include <ctime>
#include <string>

namespace tillvane::platform {

struct LocalTime {
    std::tm tm{};          // broken-down local time (tm_year since 1900, tm_mon from 0)
    int milliseconds = 0;  // 0..999
};

LocalTime NowLocal();

// strftime of `format` for `time`; empty when the result would not fit kMaxFormattedTime.
std::string FormatLocalTime(const LocalTime& time, const char* format);

}  // namespace tillvane::platform
