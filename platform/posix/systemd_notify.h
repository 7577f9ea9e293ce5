#pragma once
// Status reports to systemd (Type=notify units): READY=1 when the service runs, STOPPING=1
// when it stops, and a STATUS= line for `systemctl status`.

#include <string>

#include "platform/service_control.h"

namespace tillvane::platform {

// The notification for `status`, lines separated by "\n".
std::string SystemdNotifyText(const ServiceStatus& status);

// Sends `text` to the socket named by NOTIFY_SOCKET; does nothing when it is not set (the
// program was not started by systemd) or the build has no libsystemd.
void NotifySystemd(const std::string& text);

}  // namespace tillvane::platform
