#pragma once
// printf-style formatting into a std::string, for the service shell's fixed message texts.

#include <string>

namespace tillvane {

// The text `format` makes of the arguments, in the "C" locale's integer formatting.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tillvane
