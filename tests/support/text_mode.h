#pragma once
// What a log written in text mode holds for one line break on this system.

namespace tillvane::testing {

#ifdef _WIN32
inline constexpr const char* kTextModeLineBreak = "\r\n";
#else
inline constexpr const char* kTextModeLineBreak = "\n";
#endif

}  // namespace tillvane::testing
