#pragma once
// What the service worker brings up and shuts down: the register host with its driver and
// the web front end with its server thread.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/server_start.h"

namespace tillvane {

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;

    // Creates the driver named by the configuration at `configPath` (register log at
    // `registerLogPath`), then the application context, which starts the web server thread,
    // and returns once the server listens or cannot. A driver that cannot be made leaves the
    // server answering ERR|; a server that cannot listen is a failed start.
    virtual ServerStart Start(const std::string& configPath,
                              const std::string& registerLogPath) = 0;
    // Asks the server thread to leave its event loop, also when its loop has not begun yet.
    virtual void RequestServerExit() = 0;
    virtual bool ServerRunning() const = 0;
    // True once the server thread has ended, false when `timeout` passed first.
    virtual bool WaitForServerDone(std::chrono::milliseconds timeout) = 0;
    // Destroys the driver. Only once the server thread has ended.
    virtual void ReleaseDriver() = 0;
};

using FrontEndFactory = std::function<std::unique_ptr<FrontEnd>()>;

// The register host and the application context of the real program, for the instance whose
// files carry `instance` (empty: the default one) and whose service is `serviceName`.
std::unique_ptr<FrontEnd> CreateAppFrontEnd(const std::string& instance,
                                            const std::string& serviceName);

}  // namespace tillvane
