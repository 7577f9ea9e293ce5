#include "platform/win32/windows_error.h"

#include "platform/error.h"
#include "platform/service_control.h"
#include "platform/win32/windows_api.h"

namespace tillvane::platform {

namespace {
constexpr DWORD kMaxMessageLength = 512;
}

std::string WindowsErrorText(std::uint32_t code) {
    char buffer[kMaxMessageLength] = {};
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    /*lpSource=*/nullptr, code, /*dwLanguageId=*/0, buffer,
                                    kMaxMessageLength, /*Arguments=*/nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
        --length;
    }
    if (length == 0) return "error " + std::to_string(code);
    return std::string(buffer, length);
}

std::uint32_t LastErrorCode() {
    return static_cast<std::uint32_t>(::GetLastError());
}

Error LastSystemError() {
    const DWORD code = ::GetLastError();
    const ErrorKind kind =
        code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS      ? ErrorKind::nameTaken
        : code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ErrorKind::nameMissing
                                                                       : ErrorKind::other;
    return Error(static_cast<int>(code), WindowsErrorText(code), kind);
}

}  // namespace tillvane::platform
