#pragma once
// The system's own words for a Windows error code.

#include <cstdint>
#include <string>

namespace tillvane::platform {

// FormatMessageA's text for `code`, without its trailing line break; "error <code>" when the
// system has no text for it.
std::string WindowsErrorText(std::uint32_t code);

}  // namespace tillvane::platform
