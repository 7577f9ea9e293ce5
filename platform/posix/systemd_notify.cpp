#include "platform/posix/systemd_notify.h"

#include <cstdio>
#include <cstdlib>

#if defined(TILLVANE_HAVE_SYSTEMD)
#include <systemd/sd-daemon.h>
#endif

namespace tillvane::platform {

namespace {

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

std::string SystemdNotifyText(const ServiceStatus& status) {
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
    return text;
}

void NotifySystemd(const std::string& text) {
#if defined(TILLVANE_HAVE_SYSTEMD)
    if (std::getenv("NOTIFY_SOCKET") != nullptr) sd_notify(0, text.c_str());
#else
    (void)text;
#endif
}

}  // namespace tillvane::platform
