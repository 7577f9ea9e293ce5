#include "platform/clock.h"

#include <chrono>

namespace tillvane::platform {

LocalTime NowLocal() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    LocalTime result;
    localtime_r(&seconds, &result.tm);
    result.milliseconds =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return result;
}

}  // namespace tillvane::platform
