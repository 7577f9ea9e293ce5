#pragma once
// The names this machine goes by on the network, as the system knows them: a request that
// names the machine itself is meant for this service.

#include <string>
#include <vector>

namespace tillvane::platform {

// The machine's host name and, where the system keeps one, its full DNS name (on Windows
// also the NetBIOS computer name); empty when the system cannot tell. Letter case as the
// system gives it.
std::vector<std::string> MachineNames();

}  // namespace tillvane::platform
