#pragma once
// Which clients may use the service: a list of addresses and CIDR ranges, IPv4 and IPv6.
// An empty list admits everyone.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace tillvane {

class ClientAccess {
  public:
    // Reads entries separated by commas or blanks ("127.0.0.1, 192.168.1.0/24, ::1").
    // Fails, its text the first entry that is neither an address nor a range, when one does
    // not parse, or the whole list when it holds separators but no entry
    // (","): a list that says nothing readable must not open the service to everyone. The
    // list is left empty then. A list of blanks only is the empty list.
    platform::Error Parse(std::string_view list);
    // True when `address` (as the server reports the peer) lies in one of the ranges, or
    // when there are none. IPv4 addresses and ranges count as their IPv4-mapped IPv6 form
    // (::ffff:a.b.c.d), so that an IPv4 client reached over an IPv6 socket, and a range
    // written either way (127.0.0.0/8 or ::ffff:127.0.0.0/104), mean the same.
    bool Allows(std::string_view address) const;

  private:
    struct Range {
        std::array<std::uint8_t, 16> bytes{};  // IPv6, IPv4 as mapped
        unsigned prefixBits = 0;               // of the 128
    };

    std::vector<Range> ranges_;
};

// True when `address` is an IPv4 or IPv6 address in text form.
bool IsIpAddress(std::string_view address);

}  // namespace tillvane
