// The Windows event log: the source is registered for one entry and deregistered again. Each
// entry names a message of the program's message table (event_messages.mc), so Event Viewer
// shows its text rather than "The description for Event ID ... cannot be found".

#include <vector>

#include "event_messages.h"
#include "platform/event_log.h"
#include "platform/win32/windows_api.h"

namespace tillvane::platform {

namespace {

// The message of the program's table that shows an entry of `type` without an id of its own.
DWORD MessageIdFor(std::uint16_t type) {
    switch (type) {
        case kEventLogErrorType:
            return MSG_SERVICE_ERROR;
        case kEventLogWarningType:
            return MSG_SERVICE_WARNING;
        default:
            return MSG_SERVICE_INFORMATION;
    }
}

class WindowsEventLog final : public EventLog {
  public:
    void Report(const EventLogEntry& entry) override {
        HANDLE source = ::RegisterEventSourceA(/*lpUNCServerName=*/nullptr, entry.source.c_str());
        if (source == nullptr) return;  // the entry is lost, as the system's own callers do
        // The messages show the second string (the text) after the first (the source's name);
        // an entry of one string alone gets the source's name in front.
        std::vector<const char*> strings;
        if (entry.strings.size() == 1) strings.push_back(entry.source.c_str());
        for (const std::string& text : entry.strings) strings.push_back(text.c_str());
        const DWORD eventId = entry.eventId != 0 ? entry.eventId : MessageIdFor(entry.type);
        ::ReportEventA(source, entry.type, entry.category, eventId, /*lpUserSid=*/nullptr,
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
