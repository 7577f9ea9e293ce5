#pragma once
// The event log on Linux: syslog, facility daemon, written as datagrams to the syslog socket
// ("<priority>source[pid]: text"), so that journald shows each entry under its own source's
// name. Each entry opens a socket of its own: no process-wide openlog state to guard.

#include <string>

#include "platform/event_log.h"

namespace tillvane::platform {

inline constexpr const char* kSyslogSocketPath = "/dev/log";

class SyslogEventLog final : public EventLog {
  public:
    explicit SyslogEventLog(std::string socketPath = kSyslogSocketPath)
        : socketPath_(std::move(socketPath)) {}
    void Report(const EventLogEntry& entry) override;

  private:
    std::string socketPath_;
};

// The datagram of `entry` from the process `pid`.
std::string SyslogDatagram(const EventLogEntry& entry, int pid);

}  // namespace tillvane::platform
