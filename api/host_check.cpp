#include "api/host_check.h"

// Boost 1.74's Asio misses this include under C++20; see web_server.cpp.
#include <utility>

#include <boost/asio/ip/address.hpp>

#include <algorithm>

#include "base/text_split.h"

namespace tillvane {

namespace {

namespace ip = boost::asio::ip;

constexpr std::string_view kNameSeparators = ", \t";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLocalhost = "localhost";
// Digits of the longest TCP port number.
constexpr std::size_t kMaxPortDigits = 5;

// What a name is compared as: lower case, a trailing dot (the root of a fully qualified
// name) left out.
std::string Normalised(std::string_view name) {
    if (name.ends_with('.')) name.remove_suffix(1);
    return ToLowerAscii(name);
}

// Nothing, or ":" and a port number (empty allowed, as in a URL).
bool IsPortSuffix(std::string_view suffix) {
    if (suffix.empty()) return true;
    if (suffix.front() != ':') return false;
    suffix.remove_prefix(1);
    return suffix.size() <= kMaxPortDigits &&
           std::all_of(suffix.begin(), suffix.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Four decimal numbers, as a URL writes an IPv4 address. (Some systems' parsers take the old
// short forms too, "127.1" or "2130706433": the same on every system, these are names.)
bool IsIpv4Literal(std::string_view text) {
    constexpr std::ptrdiff_t kDots = 3;
    if (std::count(text.begin(), text.end(), '.') != kDots ||
        text.find_first_not_of("0123456789.") != std::string_view::npos) {
        return false;
    }
    boost::system::error_code error;
    ip::make_address_v4(std::string(text), error);
    return !error;
}

bool IsIpv6Literal(std::string_view text) {
    boost::system::error_code error;
    ip::make_address_v6(std::string(text), error);
    return !error;
}

}  // namespace

void HostCheck::SetNames(const std::vector<std::string>& machineNames, std::string_view list) {
    names_.clear();
    for (const std::string& name : machineNames) names_.push_back(Normalised(name));
    for (const std::string_view name : SplitList(list, kNameSeparators)) {
        names_.push_back(Normalised(name));
    }
}

bool HostCheck::Allows(std::string_view host) const {
    const std::size_t first = host.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return false;
    host = host.substr(first, host.find_last_not_of(kBlanks) - first + 1);
    if (host.front() == '[') {
        const std::size_t close = host.find(']');
        return close != std::string_view::npos && IsPortSuffix(host.substr(close + 1)) &&
               IsIpv6Literal(host.substr(1, close - 1));
    }
    const std::size_t colon = host.find(':');
    if (colon != std::string_view::npos && !IsPortSuffix(host.substr(colon))) return false;
    const std::string_view name = host.substr(0, colon);
    if (name.empty()) return false;
    if (IsIpv4Literal(name)) return true;
    const std::string normalised = Normalised(name);
    if (normalised.empty()) return false;
    return normalised == kLocalhost ||
           std::find(names_.begin(), names_.end(), normalised) != names_.end();
}

}  // namespace tillvane
