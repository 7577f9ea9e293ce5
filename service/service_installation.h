#pragma once
// Installing and removing the service from the command line; every step reports on `out`.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "platform/service_installer.h"

namespace tillvane {

// Registers the program at `programPath` as the service. An empty path means the system
// could not tell it; `pathError` then says why.
void InstallService(platform::ServiceInstaller& installer, const std::string& programPath,
                    std::uint32_t pathError, std::ostream& out);

// Stops the service if it runs, printing a dot for every second it is still stopping, and
// deletes it. `sleepOneSecond` waits between two looks at the state.
void RemoveService(platform::ServiceInstaller& installer, std::ostream& out,
                   const std::function<void()>& sleepOneSecond);

}  // namespace tillvane
