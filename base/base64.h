#pragma once
// Decoding of the Base64 command texts (standard alphabet).

#include <cstddef>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tillvane {

inline constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decodes `text` up to its first "="; what follows the "=" is ignored, and no
// closing "=" is needed. A last group of two or three characters gives one or two bytes, a
// single character none; the result may hold 0 bytes.
//
// What a text passes through on its way here is forgiven: line breaks and tabs (a wrapped
// Base64 text) are skipped, and a blank is read as "+" (a "+" that was not URL-encoded arrives
// as a blank). Neither is a Base64 character, so no valid text changes meaning. Any other
// character outside the alphabet, before or after the "=", makes the whole text invalid: the
// result is an error whose code() is that character's position in `text`, counted in bytes
// from 1 (the first byte is position 1).
Result<std::string> Base64Decode(std::string_view text);

}  // namespace tillvane
