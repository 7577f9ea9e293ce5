#include <cerrno>

#include "platform/service_control.h"

namespace tillvane::platform {

std::uint32_t LastErrorCode() {
    return static_cast<std::uint32_t>(errno);
}

}  // namespace tillvane::platform
