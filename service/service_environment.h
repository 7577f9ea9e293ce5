#pragma once
// What the service shell needs from the system: the service dispatcher and the event log.
// Tests hand in their own.

#include <memory>

#include "platform/event_log.h"
#include "platform/service_control.h"

namespace tillvane {

struct ServiceEnvironment {
    std::unique_ptr<platform::ServiceDispatcher> dispatcher;
    std::unique_ptr<platform::EventLog> eventLog;
};

// The system's dispatcher and event log.
ServiceEnvironment SystemServiceEnvironment();

}  // namespace tillvane
