#include "tests/support/base64_encode.h"

namespace tillvane::testing {

namespace {
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned kSixBits = 63;
}  // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string encoded;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k) {
            encoded += i + k <= bytes.size() ? kAlphabet[(value >> (18 - 6 * k)) & kSixBits] : '=';
        }
    }
    return encoded;
}

}  // namespace tillvane::testing
