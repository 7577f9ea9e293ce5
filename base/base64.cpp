#include "base/base64.h"

#include <array>

namespace tillvane {

namespace {

constexpr int kNotInAlphabet = -1;
constexpr int kSkipped = -2;  // line breaks and tabs of a wrapped text
constexpr int kPadding = -3;  // "=": the end of the encoded bytes
constexpr std::size_t kGroupSize = 4;
constexpr char kMisreadPlus = ' ';

// Value of each byte: its place in the alphabet, or one of the markers above.
constexpr std::array<int, 256> MakeDecodeTable() {
    std::array<int, 256> table{};
    table.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
        table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int>(i);
    }
    table[static_cast<unsigned char>(kMisreadPlus)] = table['+'];
    table['\r'] = kSkipped;
    table['\n'] = kSkipped;
    table['\t'] = kSkipped;
    table['='] = kPadding;
    return table;
}

constexpr std::array<int, 256> kDecodeTable = MakeDecodeTable();

}  // namespace

Result<std::string> Base64Decode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size() / kGroupSize * 3 + 2);
    std::array<int, kGroupSize> group{};
    std::size_t count = 0;
    bool padded = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int value = kDecodeTable[static_cast<unsigned char>(text[i])];
        if (value == kNotInAlphabet) {
            // The whole text is checked, so that a broken text never runs in part.
            const std::size_t position = i + 1;
            return platform::Error(
                static_cast<int>(position),
                "invalid Base64 character at position " + std::to_string(position),
                platform::ErrorKind::valueRefused);
        }
        if (value == kPadding) padded = true;
        if (padded || value == kSkipped) continue;
        group[count++] = value;
        if (count == kGroupSize) {
            decoded += static_cast<char>((group[0] << 2) | (group[1] >> 4));
            decoded += static_cast<char>(((group[1] & 0xF) << 4) | (group[2] >> 2));
            decoded += static_cast<char>(((group[2] & 0x3) << 6) | group[3]);
            count = 0;
        }
    }
    if (count >= 2) decoded += static_cast<char>((group[0] << 2) | (group[1] >> 4));
    if (count == 3) decoded += static_cast<char>(((group[1] & 0xF) << 4) | (group[2] >> 2));
    return decoded;
}

}  // namespace tillvane
