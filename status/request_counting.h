#pragma once
// What /status and /metrics count of the requests that end.

namespace tillvane {

class ServiceStatus;
struct JournaledRequest;
struct RequestOutcome;

// Counts an ended request (a replay, a refusal, or a run that answered "OK|" or not) and
// lists it among the recent ones.
void CountRequest(ServiceStatus& status, const JournaledRequest& request,
                  const RequestOutcome& outcome);

}  // namespace tillvane
