#pragma once
// A printer on the network is named in Port as tcp://<host>:<port>: a name, an IPv4 address,
// or an IPv6 address in brackets (tcp://[fd00::7]:4999).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tillvane {

inline constexpr std::string_view kNetworkPortScheme = "tcp://";

struct NetworkAddress {
    std::string host;  // without the brackets of an IPv6 address
    std::uint16_t port = 0;
};

// True for a port name of the tcp:// form, well written or not.
bool IsNetworkPortName(std::string_view name);
// The host and port of a tcp:// name; refused when it is not one (no port, a port outside
// 1 to 65535, an IPv6 address without brackets).
Result<NetworkAddress> ParseNetworkPortName(std::string_view name);

}  // namespace tillvane
