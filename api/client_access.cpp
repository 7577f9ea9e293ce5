#include "api/client_access.h"

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
constexpr std::string_view kBlanks = " \t";
constexpr unsigned kIpv4Bits = 32;
constexpr unsigned kIpv6Bits = 128;
constexpr unsigned kBitsPerByte = 8;
// Bits before the IPv4 address in its IPv4-mapped IPv6 form.
constexpr unsigned kMappedIpv4Offset = kIpv6Bits - kIpv4Bits;

using Bytes = std::array<std::uint8_t, 16>;

std::optional<ip::address> ParseAddress(std::string_view text) {
    boost::system::error_code error;
    const ip::address address = ip::make_address(std::string(text), error);
    if (error) return std::nullopt;
    return address;
}

// The address as IPv6 bytes, an IPv4 address in its mapped form.
Bytes BytesOf(const ip::address& address) {
    if (address.is_v4()) return ip::make_address_v6(ip::v4_mapped, address.to_v4()).to_bytes();
    return address.to_v6().to_bytes();
}

bool SamePrefix(const Bytes& a, const Bytes& b, unsigned bits) {
    for (unsigned i = 0; i < bits / kBitsPerByte; ++i) {
        if (a[i] != b[i]) return false;
    }
    const unsigned rest = bits % kBitsPerByte;
    if (rest == 0) return true;
    const auto mask = static_cast<std::uint8_t>(0xFF << (kBitsPerByte - rest));
    return (a[bits / kBitsPerByte] & mask) == (b[bits / kBitsPerByte] & mask);
}

}  // namespace

platform::Error ClientAccess::Parse(std::string_view list) {
    ranges_.clear();
    std::vector<Range> ranges;
    for (const std::string_view entry : SplitList(list, kEntrySeparators)) {
        const std::size_t slash = entry.find('/');
        const std::optional<ip::address> address = ParseAddress(entry.substr(0, slash));
        if (!address) {
            return platform::Error::Message(std::string(entry));
        }
        // An IPv4 prefix counts from the end of the mapped form's fixed part.
        const unsigned offset = address->is_v4() ? kMappedIpv4Offset : 0;
        Range range;
        range.bytes = BytesOf(*address);
        range.prefixBits = kIpv6Bits;
        if (slash != std::string_view::npos) {
            const std::string_view digits = entry.substr(slash + 1);
            unsigned bits = 0;
            const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
            if (digits.empty() || result.ec != std::errc() ||
                result.ptr != digits.data() + digits.size() || bits > kIpv6Bits - offset) {
                return platform::Error::Message(std::string(entry));
            }
            range.prefixBits = offset + bits;
        }
        ranges.push_back(range);
    }
    if (ranges.empty() && list.find_first_not_of(kBlanks) != std::string_view::npos) {
        return platform::Error::Message(std::string(list));
    }
    ranges_ = std::move(ranges);
    return {};
}

bool ClientAccess::Allows(std::string_view text) const {
    if (ranges_.empty()) return true;
    const std::optional<ip::address> address = ParseAddress(text);
    if (!address) return false;
    const Bytes bytes = BytesOf(*address);
    return std::any_of(ranges_.begin(), ranges_.end(), [&](const Range& range) {
        return SamePrefix(range.bytes, bytes, range.prefixBits);
    });
}

bool IsIpAddress(std::string_view address) {
    boost::system::error_code error;
    ip::make_address(std::string(address), error);
    return !error;
}

}  // namespace tillvane
