#include "platform/posix/systemd_notify.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/unique_fd.h"

namespace tillvane::platform {

namespace {

constexpr char kAbstractNamespaceMark = '@';

const char* StateText(std::uint32_t state) {
    switch (state) {
        case kServiceStopped:
            return "Stopped";
        case kServiceStartPending:
            return "Starting";
        case kServiceStopPending:
            return "Stopping";
        case kServiceRunning:
            return "Running";
        case kServiceContinuePending:
            return "Resuming";
        case kServicePausePending:
            return "Pausing";
        case kServicePaused:
            return "Paused";
        default:
            return "Unknown state";
    }
}

}  // namespace

std::string SystemdNotifyText(const ServiceStatusRecord& status) {
    std::string text;
    if (status.currentState == kServiceRunning) text += "READY=1\n";
    if (status.currentState == kServiceStopPending) text += "STOPPING=1\n";
    text += "STATUS=";
    text += StateText(status.currentState);
    if (status.win32ExitCode != kNoError) {
        char code[32];
        std::snprintf(code, sizeof code, " w/err 0x%08lx",
                      static_cast<unsigned long>(status.win32ExitCode));
        text += code;
    }
    // The service's own cause (a start that cannot serve), which the README lists.
    if (status.serviceSpecificExitCode != 0) {
        text += ", code " + std::to_string(status.serviceSpecificExitCode);
    }
    return text;
}

void NotifySystemd(std::string_view text) {
    const char* const socketName = std::getenv("NOTIFY_SOCKET");
    if (socketName == nullptr) return;
    const std::size_t nameLength = std::strlen(socketName);
    sockaddr_un address{};
    // An abstract name starts with a 0 byte where the variable has "@"; a path needs room for
    // its terminating 0 byte.
    const bool abstract = socketName[0] == kAbstractNamespaceMark;
    if (nameLength == 0 || nameLength + (abstract ? 0 : 1) > sizeof address.sun_path ||
        (socketName[0] != '/' && !abstract)) {
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketName, nameLength);
    if (abstract) address.sun_path[0] = '\0';
    const auto addressLength =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + nameLength + (abstract ? 0 : 1));

    const UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return;
    // MSG_NOSIGNAL: a listener that went away must not end the service.
    ::sendto(socket.get(), text.data(), text.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&address), addressLength);
}

}  // namespace tillvane::platform
