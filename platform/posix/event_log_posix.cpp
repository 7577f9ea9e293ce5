// The event log on Linux is syslog, facility daemon: journald shows the entries under the
// source's name.

#include <syslog.h>

#include <mutex>

#include "platform/event_log.h"

namespace tillvane::platform {

namespace {

int SyslogPriority(std::uint16_t type) {
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

class SyslogEventLog final : public EventLog {
  public:
    void Report(const EventLogEntry& entry) override {
        const std::string text = EntryText(entry);
        // openlog keeps the ident pointer and its settings are process-wide: one entry at a
        // time, with the ident alive until closelog.
        static std::mutex mutex;
        std::lock_guard lock(mutex);
        openlog(entry.source.c_str(), LOG_PID, LOG_DAEMON);
        syslog(LOG_DAEMON | SyslogPriority(entry.type), "%s", text.c_str());
        closelog();
    }
};

}  // namespace

std::unique_ptr<EventLog> CreateSystemEventLog() {
    return std::make_unique<SyslogEventLog>();
}

}  // namespace tillvane::platform
