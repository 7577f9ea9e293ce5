#pragma once
// Line and field splitters used by the configuration reader, the command interpreter and
// the VAT group list. A text ends at its first NUL byte or at the end of the view, whichever
// comes first, exactly like the NUL-terminated texts the protocol was designed around.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tillvane {

// Longest configuration line ended by a CR; the last line (ended by the end of the text)
// holds one less, because the end of the text counts as a stored character.
inline constexpr std::size_t kMaxConfigLineLength = 1024;

// Cuts the next line out of `text`. A line ends at CR, at LF or at CR LF; none of those is
// stored. `position` is 0 before the first call and is kept by the caller between calls
// (the splitters read the text from `position` on only, so that a whole text is split in
// time linear in its length).
// Returns false (with `line` empty and `position` unchanged) past the end of the text and
// for a line longer than kMaxConfigLineLength.
bool NextLine(std::string_view text, std::size_t& position, std::string& line);

// Cuts the next field out of `text` at `separator`, skipping blanks (0x20) at its start.
// Returns false with `field` empty at the end of the text; a field longer than `maxLength`
// is refused without moving `position`.
bool NextField(std::string_view text, std::size_t& position, std::string& field,
               std::size_t maxLength, char separator);

// `c` upper-cased when it is one of the ASCII letters a..z, else `c` itself; the locale
// does not count.
char UpperAsciiLetter(char c);
// `c` lower-cased when it is one of the ASCII letters A..Z, else `c` itself.
char LowerAsciiLetter(char c);

// Upper-cases the ASCII letters a..z in place and returns the length of the text.
int UpperAscii(std::string& text);

// Returns `text` with its ASCII letters a..z upper-cased.
std::string ToUpperAscii(std::string_view text);
// The entries of a list such as "a, b c": the pieces between any of `separators`, empty ones
// left out. They view `list`.
std::vector<std::string_view> SplitList(std::string_view list, std::string_view separators);

// Returns `text` with its ASCII letters A..Z lower-cased.
std::string ToLowerAscii(std::string_view text);
// Equal but for the case of ASCII letters (header names, media types, parameters).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace tillvane
