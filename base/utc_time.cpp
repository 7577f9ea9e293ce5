#include "base/utc_time.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace tillvane {

namespace {

platform::Error RefusedTime() {
    return platform::Error::Message("not a UTC time of its form")
        .As(platform::ErrorKind::valueRefused);
}

using Millis = std::chrono::sys_time<std::chrono::milliseconds>;

// The calendar date and the time of day of an instant, in UTC.
struct CivilTime {
    std::chrono::year_month_day date;
    std::chrono::hh_mm_ss<std::chrono::milliseconds> time;
};

CivilTime CivilFrom(Millis at) {
    const std::chrono::sys_days day = std::chrono::floor<std::chrono::days>(at);
    return {std::chrono::year_month_day{day}, std::chrono::hh_mm_ss{at - day}};
}

// "YYYY-MM-DD", "hh:mm:ss" or "YYYYMMDD", "hhmmss" after `format`'s own pattern.
std::string Format(const char* format, const CivilTime& t) {
    char text[32];
    std::snprintf(
        text, sizeof text, format, static_cast<int>(t.date.year()),
        static_cast<unsigned>(t.date.month()), static_cast<unsigned>(t.date.day()),
        static_cast<int>(t.time.hours().count()), static_cast<int>(t.time.minutes().count()),
        static_cast<int>(t.time.seconds().count()), static_cast<int>(t.time.subseconds().count()));
    return text;
}

// Reads `count` digits at `pos` of `text`.
bool Digits(std::string_view text, std::size_t pos, std::size_t count, int& value) {
    if (pos + count > text.size()) return false;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    std::from_chars(text.data() + pos, text.data() + pos + count, value);
    return true;
}

// The instant of a UTC date and time of day; none when there is no such date or time.
Result<std::int64_t> MillisOf(int year, int month, int day, int hour, int minute, int second,
                              int millis) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year},
                              std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60) return RefusedTime();
    const Millis at =
        sys_days{date} + hours{hour} + minutes{minute} + seconds{second} + milliseconds{millis};
    return at.time_since_epoch().count();
}

}  // namespace

std::int64_t UnixMillisNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string FormatUtcMillis(std::int64_t unixMillis) {
    return Format("%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  CivilFrom(Millis{std::chrono::milliseconds{unixMillis}}));
}

Result<std::int64_t> ParseUtcMillis(std::string_view text) {
    // 2026-12-08T08:01:46.123Z
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' || text[23] != 'Z' ||
        !Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
        !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) ||
        !Digits(text, 17, 2, second) || !Digits(text, 20, 3, millis)) {
        return RefusedTime();
    }
    return MillisOf(year, month, day, hour, minute, second, millis);
}

std::string FormatUtcStamp(std::int64_t unixMillis) {
    return Format("%04d%02u%02uT%02d%02d%02dZ",
                  CivilFrom(Millis{std::chrono::milliseconds{unixMillis}}));
}

Result<std::int64_t> ParseUtcStamp(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() != kUtcStampLength || text[8] != 'T' || text[15] != 'Z' ||
        !Digits(text, 0, 4, year) || !Digits(text, 4, 2, month) || !Digits(text, 6, 2, day) ||
        !Digits(text, 9, 2, hour) || !Digits(text, 11, 2, minute) || !Digits(text, 13, 2, second)) {
        return RefusedTime();
    }
    return MillisOf(year, month, day, hour, minute, second, 0);
}

std::string FormatUtcTimestamp(std::chrono::system_clock::time_point time) {
    return Format("%04d-%02u-%02uT%02d:%02d:%02dZ",
                  CivilFrom(std::chrono::floor<std::chrono::milliseconds>(time)));
}

}  // namespace tillvane
