// The line and field splitters on any text: every call ends, moves on, and hands out only what
// the text holds, within the bound it was given.

#include <cstdint>
#include <string>

#include "base/text_split.h"
#include "fuzz/fuzz_support.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;

namespace {

void SplitLines(std::string_view text) {
    std::size_t position = 0;
    std::string line;
    while (NextLine(text, position, line)) {
        if (line.size() > kMaxConfigLineLength) Violated("line over its bound");
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            Violated("line holds a line end or a NUL");
        }
    }
}

void SplitFields(std::string_view text, char separator, std::size_t maxLength) {
    std::size_t position = 0;
    std::string field;
    while (true) {
        const std::size_t before = position;
        if (!NextField(text, position, field, maxLength, separator)) break;
        if (position <= before) Violated("field reader did not move on");
        if (field.size() > maxLength) Violated("field over its bound");
        if (field.find(separator) != std::string::npos) Violated("field holds its separator");
        if (!field.empty() && field.front() == ' ') Violated("field starts with a blank");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const char separator = static_cast<char>(data[0]);
    const std::size_t maxLength = data[1];
    const std::string_view text = fuzzing::AsText(data + 2, size - 2);
    SplitLines(text);
    SplitFields(text, separator, maxLength);
    std::string upper(text);
    if (static_cast<std::size_t>(UpperAscii(upper)) != text.size()) Violated("length changed");
    if (ToUpperAscii(text) != upper) Violated("the two upper-casings differ");
    return 0;
}
