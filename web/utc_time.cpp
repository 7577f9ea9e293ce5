#include "web/utc_time.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace tillvane {

namespace {

constexpr std::int64_t kMillisPerSecond = 1000;
constexpr std::int64_t kSecondsPerDay = 86400;

struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millis = 0;
};

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back
// (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilTime CivilFromMillis(std::int64_t unixMillis) {
    std::int64_t seconds = unixMillis / kMillisPerSecond;
    std::int64_t millis = unixMillis % kMillisPerSecond;
    if (millis < 0) {
        millis += kMillisPerSecond;
        --seconds;
    }
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilTime civil;
    civil.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    civil.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    civil.year = static_cast<int>(yoe + era * 400 + (civil.month <= 2 ? 1 : 0));
    civil.hour = static_cast<int>(secondOfDay / 3600);
    civil.minute = static_cast<int>(secondOfDay / 60 % 60);
    civil.second = static_cast<int>(secondOfDay % 60);
    civil.millis = static_cast<int>(millis);
    return civil;
}

std::int64_t MillisFromCivil(const CivilTime& t) {
    return ((DaysFromCivil(t.year, t.month, t.day) * 24 + t.hour) * 60 + t.minute) * 60 *
               kMillisPerSecond +
           t.second * kMillisPerSecond + t.millis;
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

bool Plausible(const CivilTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour <= 23 &&
           t.minute <= 59 && t.second <= 60;
}

}  // namespace

std::int64_t UnixMillisNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string FormatUtcMillis(std::int64_t unixMillis) {
    const CivilTime t = CivilFromMillis(unixMillis);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millis);
    return text;
}

std::optional<std::int64_t> ParseUtcMillis(std::string_view text) {
    // 2026-12-08T08:01:46.123Z
    CivilTime t;
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' || text[23] != 'Z' ||
        !Digits(text, 0, 4, t.year) || !Digits(text, 5, 2, t.month) || !Digits(text, 8, 2, t.day) ||
        !Digits(text, 11, 2, t.hour) || !Digits(text, 14, 2, t.minute) ||
        !Digits(text, 17, 2, t.second) || !Digits(text, 20, 3, t.millis) || !Plausible(t)) {
        return std::nullopt;
    }
    return MillisFromCivil(t);
}

std::string FormatUtcStamp(std::int64_t unixMillis) {
    const CivilTime t = CivilFromMillis(unixMillis);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

std::optional<std::int64_t> ParseUtcStamp(std::string_view text) {
    CivilTime t;
    if (text.size() != kUtcStampLength || text[8] != 'T' || text[15] != 'Z' ||
        !Digits(text, 0, 4, t.year) || !Digits(text, 4, 2, t.month) || !Digits(text, 6, 2, t.day) ||
        !Digits(text, 9, 2, t.hour) || !Digits(text, 11, 2, t.minute) ||
        !Digits(text, 13, 2, t.second) || !Plausible(t)) {
        return std::nullopt;
    }
    return MillisFromCivil(t);
}

}  // namespace tillvane
