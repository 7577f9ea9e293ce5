#pragma once
// Registering the service with the system's service manager and deleting it again: the steps
// that installation and removal take, one call each, so that their messages stay the same on
// every system.

#include <cstdint>
#include <memory>
#include <string>

namespace tillvane::platform {

struct ServiceDefinition {
    std::string name;
    std::string displayName;
    std::string programPath;  // as the system reports it; started without arguments
};

class ServiceInstaller {
  public:
    virtual ~ServiceInstaller() = default;

    // Connects to the service manager, with the right to create services when `forCreate`.
    virtual bool Connect(bool forCreate) = 0;
    // Registers the service: started on demand, under an unprivileged account.
    // Fails with kErrorServiceExists when a service of that name exists.
    virtual bool CreateService(const ServiceDefinition& service) = 0;
    // Opens the service with the rights to stop, query and delete it.
    // Fails with kErrorServiceDoesNotExist when there is no such service.
    virtual bool OpenService(const std::string& name) = 0;
    // Asks the opened service to stop and returns at once; `state` is the service state the
    // request left. False when the service does not take the request (not running, say).
    virtual bool RequestStop(std::uint32_t& state) = 0;
    // The opened service's current state; `state` is left alone when the query fails.
    virtual bool QueryState(std::uint32_t& state) = 0;
    // Deletes the opened service.
    virtual bool DeleteService() = 0;

    // Error code of the last failing call.
    virtual std::uint32_t lastError() const = 0;
};

std::unique_ptr<ServiceInstaller> CreateServiceInstaller();

}  // namespace tillvane::platform
