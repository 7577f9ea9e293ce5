#pragma once
// Stand-ins for the system around the service shell: a dispatcher that runs the service
// main function and then a list of controls on the test's thread, a status sink and an
// event log that record what they are given.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/service_control.h"
#include "service/service_environment.h"

namespace tillvane::testing {

struct ShellRecord {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<platform::ServiceStatusRecord> statuses;
    std::vector<platform::EventLogEntry> entries;

    std::vector<platform::ServiceStatusRecord> Statuses() {
        std::lock_guard lock(mutex);
        return statuses;
    }
    std::vector<platform::EventLogEntry> Entries() {
        std::lock_guard lock(mutex);
        return entries;
    }
    // The messages (second strings) of the entries, in order.
    std::vector<std::string> Messages() {
        std::lock_guard lock(mutex);
        std::vector<std::string> messages;
        for (const auto& entry : entries) {
            messages.push_back(entry.strings.size() > 1 ? entry.strings[1] : "");
        }
        return messages;
    }
    // Waits until an entry with `message` has been written.
    void WaitForMessage(const std::string& message) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] {
            for (const auto& entry : entries) {
                if (entry.strings.size() > 1 && entry.strings[1] == message) return true;
            }
            return false;
        });
    }
};

class RecordingStatusSink final : public platform::ServiceStatusSink {
  public:
    explicit RecordingStatusSink(ShellRecord& record) : record_(record) {}
    void SetServiceStatus(const platform::ServiceStatusRecord& status) override {
        std::lock_guard lock(record_.mutex);
        record_.statuses.push_back(status);
    }

  private:
    ShellRecord& record_;
};

class RecordingEventLog final : public platform::EventLog {
  public:
    explicit RecordingEventLog(ShellRecord& record) : record_(record) {}
    void Report(const platform::EventLogEntry& entry) override {
        {
            std::lock_guard lock(record_.mutex);
            record_.entries.push_back(entry);
        }
        record_.changed.notify_all();
    }

  private:
    ShellRecord& record_;
};

// Runs the service main function, then each control in turn, on the calling thread, as
// long as the service has not reported itself stopped.
class ScriptedDispatcher final : public platform::ServiceDispatcher {
  public:
    ScriptedDispatcher(ShellRecord& record, std::vector<std::uint32_t> controls)
        : record_(record), sink_(record), controls_(std::move(controls)) {}

    bool runFails = false;
    bool registrationFails = false;

    bool Run(const char* serviceName, platform::ServiceMainFunction serviceMain) override {
        if (runFails) return false;
        name_ = serviceName;
        char* argv[] = {name_.data(), nullptr};
        serviceMain(1, argv);
        for (const std::uint32_t control : controls_) {
            if (handler_ == nullptr || Stopped()) break;
            handler_(control);
        }
        return true;
    }

    platform::ServiceStatusSink* RegisterControlHandler(const char*,
                                                        platform::ServiceControlHandler handler,
                                                        std::uint32_t& errorCode) override {
        if (registrationFails) {
            errorCode = platform::kErrorServiceNotInExe;
            return nullptr;
        }
        handler_ = handler;
        return &sink_;
    }

  private:
    bool Stopped() {
        std::lock_guard lock(record_.mutex);
        return !record_.statuses.empty() &&
               record_.statuses.back().currentState == platform::kServiceStopped;
    }

    ShellRecord& record_;
    RecordingStatusSink sink_;
    std::vector<std::uint32_t> controls_;
    std::string name_;
    platform::ServiceControlHandler handler_ = nullptr;
};

inline ServiceEnvironment ScriptedEnvironment(ShellRecord& record,
                                              std::vector<std::uint32_t> controls,
                                              ScriptedDispatcher** dispatcher = nullptr) {
    auto scripted = std::make_unique<ScriptedDispatcher>(record, std::move(controls));
    if (dispatcher != nullptr) *dispatcher = scripted.get();
    return {std::move(scripted), std::make_unique<RecordingEventLog>(record)};
}

}  // namespace tillvane::testing
