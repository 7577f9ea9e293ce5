#include "base/control_bytes.h"

namespace tillvane {

namespace {
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;
}  // namespace

std::string EscapeControlBytes(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= kFirstPrintable && byte != kDelete) {
            escaped += c;
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\t') {
            escaped += "\\t";
        } else {
            escaped += "\\x";
            escaped += kHexDigits[byte >> kNibbleBits];
            escaped += kHexDigits[byte & kNibbleMask];
        }
    }
    return escaped;
}

}  // namespace tillvane
