#include "platform/clock.h"

#include "platform/win32/windows_api.h"

namespace tillvane::platform {

namespace {
constexpr int kTmYearBase = 1900;
}  // namespace

LocalTime NowLocal() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    LocalTime result;
    result.tm.tm_year = now.wYear - kTmYearBase;
    result.tm.tm_mon = now.wMonth - 1;
    result.tm.tm_mday = now.wDay;
    result.tm.tm_hour = now.wHour;
    result.tm.tm_min = now.wMinute;
    result.tm.tm_sec = now.wSecond;
    result.tm.tm_wday = now.wDayOfWeek;
    result.tm.tm_isdst = -1;
    result.milliseconds = now.wMilliseconds;
    return result;
}

}  // namespace tillvane::platform
