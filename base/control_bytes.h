#pragma once
// A log entry is one line for whoever reads it: text from a client (a command text, a Host
// header) may hold line breaks and terminal escapes that would forge entries or move a
// terminal's cursor, so every such byte is written as a visible escape instead.

#include <string>
#include <string_view>

namespace tillvane {

// `text` with each control byte (0x00 to 0x1F and 0x7F) written as "\r", "\n", "\t" or
// "\xHH" (two lower-case hexadecimal digits); every other byte as it is.
std::string EscapeControlBytes(std::string_view text);

}  // namespace tillvane
