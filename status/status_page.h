#pragma once
// The status page for people: the figures of a StatusSnapshot as a self-contained HTML page.

#include <string>
#include <string_view>

#include "status/service_status.h"

namespace tillvane {

inline constexpr std::string_view kStatusPagePath = "status.html";
inline constexpr std::string_view kHtmlContentType = "text/html; charset=utf-8";

// The page is rendered here and reloads itself; it holds no script, form or link that could
// send a printer command.
std::string StatusPageHtml(const StatusSnapshot& status);

}  // namespace tillvane
