#pragma once
// Where the request pipeline's and the request journal's news goes in the running service:
// their entries to the logs, each ended request to the counters, the driver's state after
// each run and whether the journal can write to the status.

#include "requests/journal/journal_observer.h"
#include "requests/request_observer.h"

namespace tillvane {

class LogFiles;
class ServiceStatus;
class VirtualRegister;

class ServiceObserver : public RequestObserver, public JournalObserver {
  public:
    // `driver` may be null (no driver); none of them is owned.
    ServiceObserver(const LogFiles& logs, ServiceStatus& status, const VirtualRegister* driver)
        : logs_(logs), status_(status), driver_(driver) {}

    void Log(std::string_view entry) override;
    void LogPostedCommand(std::string_view text) override;
    void Ended(const JournaledRequest& request, const RequestOutcome& outcome) override;
    void DriverRan() override;
    void StateChanged(std::string_view problem) override;

  private:
    const LogFiles& logs_;
    ServiceStatus& status_;
    const VirtualRegister* driver_;
};

}  // namespace tillvane
