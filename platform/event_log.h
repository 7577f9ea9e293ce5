#pragma once
// The system's event log (the Windows event log; syslog, facility daemon, on Linux).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tillvane::platform {

inline constexpr std::uint16_t kEventLogErrorType = 0x0001;
inline constexpr std::uint16_t kEventLogWarningType = 0x0002;
inline constexpr std::uint16_t kEventLogInformationType = 0x0004;

struct EventLogEntry {
    std::string source;  // event source, also the syslog ident
    std::uint16_t type = kEventLogInformationType;
    std::uint16_t category = 0;
    std::uint32_t eventId = 0;
    std::vector<std::string> strings;  // insertion strings, in order

    bool operator==(const EventLogEntry&) const = default;
};

class EventLog {
  public:
    virtual ~EventLog() = default;
    // Writes one entry, registering its source for this entry only. An entry that cannot be
    // written is lost without a report.
    virtual void Report(const EventLogEntry& entry) = 0;
};

std::unique_ptr<EventLog> CreateSystemEventLog();

}  // namespace tillvane::platform
