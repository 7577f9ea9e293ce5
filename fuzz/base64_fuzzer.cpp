// Base64 decoding of any text, and the round trip of any bytes through the tests' plain encoder.

#include <cstdint>
#include <string>

#include "base/base64.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/base64_encode.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;

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

    if (!Base64Decode(testing::Base64Encode(text), decoded, invalidPosition) || decoded != text) {
        Violated("round trip changed the bytes");
    }
    return 0;
}
