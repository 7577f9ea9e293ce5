#pragma once
// Registering the service with the system's service manager and deleting it again: the steps
// that installation and removal take, one call each, so that their messages stay the same on
// every system. Every step answers with the system's error (code and words) or none.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"

namespace tillvane::platform {

enum class ServiceStart { onDemand, automatic };

// Which service: the program's default one (`base`), or a named instance of it, a service of
// its own called "<base>_<instance>" whose program runs with "-instance <instance>".
struct ServiceName {
    ServiceName() = default;
    ServiceName(const char* baseName) : base(baseName) {}
    ServiceName(std::string baseName, std::string instanceName = {})
        : base(std::move(baseName)), instance(std::move(instanceName)) {}

    // The name the service manager shows: "Tillvane_SE", "Tillvane_SE_front".
    std::string full() const { return instance.empty() ? base : base + "_" + instance; }

    std::string base;
    std::string instance;  // empty: the default service
};

// The switch that names the instance on the program's command line.
inline constexpr const char* kInstanceSwitch = "-instance";

struct ServiceDefinition {
    ServiceName name;
    std::string displayName;
    // As the system reports it; started without arguments, or with "-instance <instance>".
    std::string programPath;
    std::string description;  // shown beside the name by the system's service tools
    ServiceStart start = ServiceStart::onDemand;
};

// What the service manager does when the service ends without being asked to (a crash, or a
// non-zero exit): restart it after each delay in turn, the last one for every later failure,
// and count the failures afresh after `resetPeriod` without one.
struct FailureActions {
    std::vector<std::chrono::milliseconds> restartDelays;
    std::chrono::seconds resetPeriod{0};
};

class ServiceInstaller {
  public:
    virtual ~ServiceInstaller() = default;

    // Connects to the service manager, with the right to create services when `forCreate`.
    virtual Error Connect(bool forCreate) = 0;
    // Lets the service's account change files in `folder` and everything it will hold.
    virtual Error GrantFolderToServiceAccount(const std::string& folder) = 0;
    // Registers the service under an unprivileged account, started as `service.start` says.
    // Fails with kErrorServiceExists when a service of that name exists.
    virtual Error CreateService(const ServiceDefinition& service) = 0;
    // The created service's description.
    virtual Error SetDescription(const std::string& description) = 0;
    // The created service's restarts after a crash.
    virtual Error SetFailureActions(const FailureActions& actions) = 0;
    // Has those restarts follow a failed start or a non-zero exit too, not only a crash.
    virtual Error SetFailureActionsOnFailedExit() = 0;
    // Starts the created (automatic) service only once the system has settled after boot.
    virtual Error SetDelayedAutoStart() = 0;
    // Registers the program as the source of the service's entries in the system's event log.
    virtual Error RegisterEventSource(const std::string& source,
                                      const std::string& programPath) = 0;
    // Removes that registration; none is no failure.
    virtual Error RemoveEventSource(const std::string& source) = 0;
    // Opens the service with the rights to stop, query and delete it.
    // Fails with kErrorServiceDoesNotExist when there is no such service.
    virtual Error OpenService(const ServiceName& name) = 0;
    // Asks the opened service to stop and returns at once; `state` is the service state the
    // request left. Fails when the service does not take the request (not running, say).
    virtual Error RequestStop(std::uint32_t& state) = 0;
    // The opened service's current state; `state` is left alone when the query fails.
    virtual Error QueryState(std::uint32_t& state) = 0;
    // Deletes the opened service.
    virtual Error DeleteService() = 0;
};

std::unique_ptr<ServiceInstaller> CreateServiceInstaller();

}  // namespace tillvane::platform
