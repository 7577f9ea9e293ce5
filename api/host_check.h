#pragma once
// Which names a request may give in its Host header. A page on a stranger's domain whose name
// is made to resolve to this machine (DNS rebinding) is its own site to the browser, so the
// browser lets it send commands and read the answers; such requests carry the stranger's name
// and are refused before anything runs.

#include <string>
#include <string_view>
#include <vector>

namespace tillvane {

class HostCheck {
  public:
    // The names accepted besides IP literals and "localhost": the machine's own and those of
    // `list` (the allowedHosts setting: names separated by commas or blanks).
    void SetNames(const std::vector<std::string>& machineNames, std::string_view list);
    // True for a Host value that is an IPv4 address, an IPv6 address in brackets, "localhost"
    // or one of the names, each with an optional ":port". Names are compared without regard
    // to letter case and to one trailing dot ("till.", as a fully qualified name).
    bool Allows(std::string_view host) const;

  private:
    std::vector<std::string> names_;  // lower case, without a trailing dot
};

}  // namespace tillvane
