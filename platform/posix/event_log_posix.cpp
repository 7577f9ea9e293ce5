#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/syslog_event_log.h"
#include "platform/posix/unique_fd.h"

namespace tillvane::platform {

namespace {

int SyslogSeverity(std::uint16_t type) {
    switch (type) {
        case kEventLogErrorType:
            return LOG_ERR;
        case kEventLogWarningType:
            return LOG_WARNING;
        default:
            return LOG_INFO;
    }
}

// The insertion strings as one line. The first string usually repeats the source, which the
// syslog ident already shows, so it is left out then.
std::string EntryText(const EventLogEntry& entry) {
    std::string text;
    for (std::size_t i = 0; i < entry.strings.size(); ++i) {
        if (i == 0 && entry.strings[i] == entry.source && entry.strings.size() > 1) continue;
        if (!text.empty()) text += ' ';
        text += entry.strings[i];
    }
    return text;
}

}  // namespace

std::string SyslogDatagram(const EventLogEntry& entry, int pid) {
    return "<" + std::to_string(LOG_DAEMON | SyslogSeverity(entry.type)) + ">" + entry.source +
           "[" + std::to_string(pid) + "]: " + EntryText(entry);
}

void SyslogEventLog::Report(const EventLogEntry& entry) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    const UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return;
    const std::string datagram = SyslogDatagram(entry, static_cast<int>(getpid()));
    // Without a syslog daemon the entry is lost, as the event log's contract allows.
    static_cast<void>(::sendto(socket.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

std::unique_ptr<EventLog> CreateSystemEventLog() {
    return std::make_unique<SyslogEventLog>();
}

}  // namespace tillvane::platform
