#pragma once
// Decoding of the Base64 command texts (standard alphabet).

#include <string>
#include <string_view>

namespace tillvane {

inline constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decodes `text` up to its first "=" or first character outside the alphabet; what follows
// is ignored, and no closing "=" is needed. A last group of two or three characters gives one
// or two bytes, a single character none. The result may hold 0 bytes.
std::string Base64Decode(std::string_view text);

}  // namespace tillvane
