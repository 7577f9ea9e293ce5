// Percent escapes, query strings and urlencoded forms, Content-Type parameters and multipart
// bodies from any bytes; percent-encoding any bytes and decoding them gives them back.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "http/form_decoding.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;

namespace {

std::string PercentEncodeAll(std::string_view bytes) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        encoded += '%';
        encoded += kDigits[byte >> 4];
        encoded += kDigits[byte & 0x0F];
    }
    return encoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzzing::AsText(data, size);
    for (const bool plusIsSpace : {false, true}) {
        const Result<std::string> decoded = PercentDecode(text, plusIsSpace);
        if (decoded.ok() && decoded->size() > text.size()) Violated("decoding grew the text");
    }
    const Result<std::string> roundTrip = PercentDecode(PercentEncodeAll(text), false);
    if (!roundTrip.ok() || *roundTrip != text) Violated("percent round trip changed the bytes");

    if (const Result<FormFields> fields = ParseUrlEncoded(text); fields.ok()) fields->Value("CMD");

    const std::string mediaType = MediaTypeOf(text);
    if (mediaType.size() > text.size()) Violated("media type longer than its header");
    HeaderParameter(text, "boundary");
    HeaderParameter(text, "name");

    // The first line is the boundary, the rest the body.
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd != std::string_view::npos) {
        const Result<FormFields> parts =
            ParseMultipartForm(text.substr(lineEnd + 1), text.substr(0, lineEnd));
        if (parts.ok()) parts->Value("CMD");
    }
    return 0;
}
