// Base64 decoding of any text, and the round trip of any bytes through a plain encoder.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "web/base64.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;

namespace {

std::string Encode(std::string_view bytes) {
    std::string encoded;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k) {
            encoded += i + k <= bytes.size() ? kBase64Alphabet[(value >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return encoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzzing::AsText(data, size);
    std::string decoded;
    std::size_t invalidPosition = 0;
    if (Base64Decode(text, decoded, invalidPosition)) {
        if (decoded.size() > text.size() / 4 * 3 + 2) Violated("decoded more than was sent");
    } else {
        if (invalidPosition < 1 || invalidPosition > text.size()) Violated("position outside");
        if (!decoded.empty()) Violated("a refused text left bytes behind");
    }

    if (!Base64Decode(Encode(text), decoded, invalidPosition) || decoded != text) {
        Violated("round trip changed the bytes");
    }
    return 0;
}
