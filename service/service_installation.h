#pragma once
// Installing and removing the service from the command line; every step reports on `out`.

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "platform/service_installer.h"
#include "service/service_instance.h"

namespace tillvane {

// Restarts after a crash or a failed start: after 5 s, 10 s, then 30 s for every later
// failure; a day without one counts afresh.
inline constexpr std::chrono::milliseconds kFirstRestartDelay{5000};
inline constexpr std::chrono::milliseconds kSecondRestartDelay{10000};
inline constexpr std::chrono::milliseconds kLaterRestartDelay{30000};
inline constexpr std::chrono::seconds kFailureCountReset{24 * 60 * 60};

inline constexpr const char* kServiceDescription =
    "Puts the fiscal receipt printer behind a small HTTP interface for the tills.";

platform::FailureActions ServiceFailureActions();

// Registers the program at `programPath` as the service of `instance` (its own service name,
// display name and event source; its program told which instance it is), started as `start` says.
// An empty path means the system could not tell it; `pathError` then says why. False when it is not
// installed (a step it works without may fail: that is only a warning).
bool InstallService(platform::ServiceInstaller& installer, const std::string& programPath,
                    const platform::Error& pathError, platform::ServiceStart start,
                    std::ostream& out, const ServiceInstance& instance = {});

// Stops the service if it runs, printing a dot for every second it is still stopping, and
// deletes it. `sleepOneSecond` waits between two looks at the state. False when it is not
// deleted; a service that failed to stop is still marked for deletion, and counts as removed.
bool RemoveService(platform::ServiceInstaller& installer, std::ostream& out,
                   const std::function<void()>& sleepOneSecond,
                   const ServiceInstance& instance = {});

}  // namespace tillvane
