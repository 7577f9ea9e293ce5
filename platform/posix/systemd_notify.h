#pragma once
// Status reports to systemd (Type=notify units): READY=1 when the service runs, STOPPING=1
// when it stops, and a STATUS= line for `systemctl status`.

#include <string>
#include <string_view>

#include "platform/service_control.h"

namespace tillvane::platform {

// The notification for `status`, lines separated by "\n".
std::string SystemdNotifyText(const ServiceStatusRecord& status);

// Sends `text` as one datagram to the socket named by NOTIFY_SOCKET: a path, or a name in the
// abstract namespace when it starts with "@". Does nothing when the variable is not set (the
// program was not started by systemd); a notice that cannot be sent is dropped, as systemd's
// own client library drops it. No library is needed, so every build notifies.
void NotifySystemd(std::string_view text);

}  // namespace tillvane::platform
