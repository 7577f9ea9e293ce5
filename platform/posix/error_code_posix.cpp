#include <cerrno>
#include <system_error>

#include "platform/error.h"
#include "platform/service_control.h"

namespace tillvane::platform {

std::uint32_t LastErrorCode() {
    return static_cast<std::uint32_t>(errno);
}

std::string SystemErrorText(int code) {
    return std::generic_category().message(code);
}

Error LastSystemError() {
    const int code = errno;
    const ErrorKind kind = code == EEXIST   ? ErrorKind::nameTaken
                           : code == ENOENT ? ErrorKind::nameMissing
                                            : ErrorKind::other;
    return SystemError(code, kind);
}

}  // namespace tillvane::platform
