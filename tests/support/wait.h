#pragma once
// Awaiting a condition in tests without fixed sleeps.

#include <chrono>
#include <functional>

namespace tillvane::testing {

// How often WaitUntil tests its condition.
inline constexpr std::chrono::milliseconds kWaitPollInterval{10};

// Tests `condition` every kWaitPollInterval until it holds or `timeout` has passed. True when
// it held; the condition is tested once more at the deadline.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace tillvane::testing
