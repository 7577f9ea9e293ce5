// The Windows event log: the source is registered for one entry and deregistered again.

#include <vector>

#include "platform/event_log.h"
#include "platform/win32/windows_api.h"

namespace tillvane::platform {

namespace {

class WindowsEventLog final : public EventLog {
  public:
    void Report(const EventLogEntry& entry) override {
        HANDLE source = ::RegisterEventSourceA(/*lpUNCServerName=*/nullptr, entry.source.c_str());
        if (source == nullptr) return;  // the entry is lost, as the system's own callers do
        std::vector<const char*> strings;
        for (const std::string& text : entry.strings) strings.push_back(text.c_str());
        ::ReportEventA(source, entry.type, entry.category, entry.eventId, /*lpUserSid=*/nullptr,
                       static_cast<WORD>(strings.size()), /*dwDataSize=*/0, strings.data(),
                       /*lpRawData=*/nullptr);
        ::DeregisterEventSource(source);
    }
};

}  // namespace

std::unique_ptr<EventLog> CreateSystemEventLog() {
    return std::make_unique<WindowsEventLog>();
}

}  // namespace tillvane::platform
