#include "app/service_observer.h"

#include "app/log_files.h"
#include "status/request_counting.h"
#include "status/service_status.h"

namespace tillvane {

void ServiceObserver::Log(std::string_view entry) {
    logs_.WriteAppLog(entry);
}

void ServiceObserver::LogPostedCommand(std::string_view text) {
    logs_.WriteRequestLog(text);
}

void ServiceObserver::Ended(const JournaledRequest& request, const RequestOutcome& outcome) {
    CountRequest(status_, request, outcome);
}

void ServiceObserver::DriverRan() {
    status_.PublishDriver(driver_);
}

void ServiceObserver::StateChanged(std::string_view problem) {
    status_.SetJournalProblem(problem);
}

}  // namespace tillvane
