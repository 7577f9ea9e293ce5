#include "platform/win32/windows_error.h"

#include "platform/error.h"
#include "platform/service_control.h"
#include "platform/win32/windows_api.h"

namespace tillvane::platform {

namespace {

constexpr DWORD kMaxMessageLength = 512;

// Texts of the Winsock failures a listening server or a printer connection meets, for systems whose
// message tables lack them (Wine's does): "Unknown error (10048)" tells an administrator nothing.
struct WinsockText {
    DWORD code;
    const char* text;
};
constexpr WinsockText kWinsockTexts[] = {
    {WSAEACCES, "access denied (the address or port is reserved or taken exclusively)"},
    {WSAEADDRINUSE, "address already in use"},
    {WSAEADDRNOTAVAIL, "address not available (not an address of this machine)"},
    {WSAEAFNOSUPPORT, "address family not supported"},
    {WSAENETDOWN, "network is down"},
    {WSAENOBUFS, "no buffer space available"},
    {WSAEMFILE, "too many open sockets"},
    {WSAECONNREFUSED, "connection refused"},
    {WSAECONNRESET, "connection reset by peer"},
    {WSAECONNABORTED, "connection aborted"},
    {WSAETIMEDOUT, "connection timed out"},
    {WSAEHOSTUNREACH, "no route to host"},
    {WSAENETUNREACH, "network is unreachable"},
    {WSAHOST_NOT_FOUND, "host not found"},
};

}  // namespace

std::string WindowsErrorText(std::uint32_t code) {
    char buffer[kMaxMessageLength] = {};
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    /*lpSource=*/nullptr, code, /*dwLanguageId=*/0, buffer,
                                    kMaxMessageLength, /*Arguments=*/nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
        --length;
    }
    if (length > 0) return std::string(buffer, length);
    for (const WinsockText& known : kWinsockTexts) {
        if (known.code == code) return known.text;
    }
    return "error " + std::to_string(code);
}

std::string SystemErrorText(int code) {
    return WindowsErrorText(static_cast<std::uint32_t>(code));
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
