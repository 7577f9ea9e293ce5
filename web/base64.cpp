#include "web/base64.h"

#include <array>

namespace tillvane {

namespace {

constexpr int kNotInAlphabet = -1;
constexpr std::size_t kGroupSize = 4;

// Value of each byte in the alphabet, or kNotInAlphabet.
constexpr std::array<int, 256> MakeDecodeTable() {
    std::array<int, 256> table{};
    table.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
        table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int>(i);
    }
    return table;
}

constexpr std::array<int, 256> kDecodeTable = MakeDecodeTable();

}  // namespace

std::string Base64Decode(std::string_view text) {
    std::string result;
    result.reserve(text.size() / kGroupSize * 3 + 2);
    std::array<int, kGroupSize> group{};
    std::size_t count = 0;
    for (const char c : text) {
        const int value = kDecodeTable[static_cast<unsigned char>(c)];
        if (value == kNotInAlphabet) break;  // "=" is outside the alphabet too
        group[count++] = value;
        if (count == kGroupSize) {
            result += static_cast<char>((group[0] << 2) | (group[1] >> 4));
            result += static_cast<char>(((group[1] & 0xF) << 4) | (group[2] >> 2));
            result += static_cast<char>(((group[2] & 0x3) << 6) | group[3]);
            count = 0;
        }
    }
    if (count >= 2) result += static_cast<char>((group[0] << 2) | (group[1] >> 4));
    if (count == 3) result += static_cast<char>(((group[1] & 0xF) << 4) | (group[2] >> 2));
    return result;
}

}  // namespace tillvane
