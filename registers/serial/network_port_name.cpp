#include "registers/serial/network_port_name.h"

#include <charconv>

#include "base/text_split.h"

namespace tillvane {

namespace {

platform::Error NotNetworkPortName() {
    return platform::Error::Message("not tcp://<host>:<port>")
        .As(platform::ErrorKind::valueRefused);
}

constexpr int kHighestTcpPort = 65535;

Result<std::uint16_t> ParsePortNumber(std::string_view digits) {
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || digits.front() == '-' || error != std::errc{} ||
        end != digits.data() + digits.size() || number < 1 || number > kHighestTcpPort) {
        return NotNetworkPortName();
    }
    return static_cast<std::uint16_t>(number);
}

}  // namespace

bool IsNetworkPortName(std::string_view name) {
    return name.size() >= kNetworkPortScheme.size() &&
           EqualsIgnoringCase(name.substr(0, kNetworkPortScheme.size()), kNetworkPortScheme);
}

Result<NetworkAddress> ParseNetworkPortName(std::string_view name) {
    if (!IsNetworkPortName(name)) return NotNetworkPortName();
    const std::string_view rest = name.substr(kNetworkPortScheme.size());
    std::string_view host;
    std::string_view afterHost;
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return NotNetworkPortName();
        host = rest.substr(1, close - 1);
        afterHost = rest.substr(close + 1);
    } else {
        const std::size_t colon = rest.find(':');
        if (colon == std::string_view::npos) return NotNetworkPortName();
        host = rest.substr(0, colon);
        afterHost = rest.substr(colon);
    }
    if (host.empty() || !afterHost.starts_with(':')) return NotNetworkPortName();
    const Result<std::uint16_t> port = ParsePortNumber(afterHost.substr(1));
    if (!port) return NotNetworkPortName();
    return NetworkAddress{std::string(host), *port};
}

}  // namespace tillvane
