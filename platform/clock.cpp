#include "platform/clock.h"

namespace tillvane::platform {

namespace {
constexpr std::size_t kMaxFormattedTime = 128;
}

std::string FormatLocalTime(const LocalTime& time, const char* format) {
    char buffer[kMaxFormattedTime];
    const std::size_t length = std::strftime(buffer, sizeof buffer, format, &time.tm);
    return std::string(buffer, length);
}

}  // namespace tillvane::platform
