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
    const Result<std::string> decoded = Base64Decode(text);
    if (decoded.ok()) {
        if (decoded->size() > text.size() / 4 * 3 + 2) Violated("decoded more than was sent");
    } else {
        const auto position = static_cast<std::size_t>(decoded.error().code());
        if (position < 1 || position > text.size()) Violated("position outside");
    }

    const Result<std::string> roundTrip = Base64Decode(testing::Base64Encode(text));
    if (!roundTrip.ok() || roundTrip.value() != text) {
        Violated("round trip changed the bytes");
    }
    return 0;
}
