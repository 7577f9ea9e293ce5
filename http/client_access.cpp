#include "http/client_access.h"

// Boost 1.74's Asio misses this include under C++20; see web_server.cpp.
#include <utility>

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <charconv>
#include <optional>

#include "base/text_split.h"

namespace tillvane {

namespace {

namespace ip = boost::asio::ip;

constexpr std::string_view kEntrySeparators = ", \t";
constexpr unsigned kIpv4Bits = 32;
constexpr unsigned kIpv6Bits = 128;
constexpr unsigned kBitsPerByte = 8;

// The address in its own family, an IPv4-mapped IPv6 address as IPv4; nullopt when `text`
// is no address.
std::optional<ip::address> ParseAddress(std::string_view text) {
    boost::system::error_code error;
    ip::address address = ip::make_address(std::string(text), error);
    if (error) return std::nullopt;
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = ip::make_address_v4(ip::v4_mapped, address.to_v6());
    }
    return address;
}

std::array<std::uint8_t, 16> BytesOf(const ip::address& address) {
    std::array<std::uint8_t, 16> bytes{};
    if (address.is_v4()) {
        const auto v4 = address.to_v4().to_bytes();
        std::copy(v4.begin(), v4.end(), bytes.begin());
    } else {
        const auto v6 = address.to_v6().to_bytes();
        std::copy(v6.begin(), v6.end(), bytes.begin());
    }
    return bytes;
}

bool SamePrefix(const std::array<std::uint8_t, 16>& a, const std::array<std::uint8_t, 16>& b,
                unsigned bits) {
    for (unsigned i = 0; i < bits / kBitsPerByte; ++i) {
        if (a[i] != b[i]) return false;
    }
    const unsigned rest = bits % kBitsPerByte;
    if (rest == 0) return true;
    const auto mask = static_cast<std::uint8_t>(0xFF << (kBitsPerByte - rest));
    return (a[bits / kBitsPerByte] & mask) == (b[bits / kBitsPerByte] & mask);
}

}  // namespace

bool ClientAccess::Parse(std::string_view list, std::string& badEntry) {
    ranges_.clear();
    std::vector<Range> ranges;
    for (const std::string_view entry : SplitList(list, kEntrySeparators)) {
        const std::size_t slash = entry.find('/');
        const std::optional<ip::address> address = ParseAddress(entry.substr(0, slash));
        if (!address) {
            badEntry = entry;
            return false;
        }
        Range range;
        range.v6 = address->is_v6();
        range.bytes = BytesOf(*address);
        const unsigned maxBits = range.v6 ? kIpv6Bits : kIpv4Bits;
        range.prefixBits = maxBits;
        if (slash != std::string_view::npos) {
            const std::string_view digits = entry.substr(slash + 1);
            unsigned bits = 0;
            const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
            if (digits.empty() || result.ec != std::errc() ||
                result.ptr != digits.data() + digits.size() || bits > maxBits) {
                badEntry = entry;
                return false;
            }
            range.prefixBits = bits;
        }
        ranges.push_back(range);
    }
    ranges_ = std::move(ranges);
    return true;
}

bool ClientAccess::Allows(std::string_view text) const {
    if (ranges_.empty()) return true;
    const std::optional<ip::address> address = ParseAddress(text);
    if (!address) return false;
    const auto bytes = BytesOf(*address);
    return std::any_of(ranges_.begin(), ranges_.end(), [&](const Range& range) {
        return range.v6 == address->is_v6() && SamePrefix(range.bytes, bytes, range.prefixBits);
    });
}

bool IsIpAddress(std::string_view address) {
    boost::system::error_code error;
    ip::make_address(std::string(address), error);
    return !error;
}

}  // namespace tillvane
