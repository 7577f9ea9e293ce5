#pragma once
// The three read-only views of a StatusSnapshot: JSON for programs, the Prometheus text
// exposition format for monitoring, and a self-contained page for people.

#include <string>
#include <string_view>

#include "status/service_status.h"

namespace tillvane {

inline constexpr std::string_view kStatusPath = "status";
inline constexpr std::string_view kMetricsPath = "metrics";
inline constexpr std::string_view kStatusPagePath = "status.html";

inline constexpr std::string_view kJsonContentType = "application/json";
inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";
inline constexpr std::string_view kHtmlContentType = "text/html; charset=utf-8";

std::string StatusJson(const StatusSnapshot& status);
std::string MetricsText(const StatusSnapshot& status);
// The page is rendered here and reloads itself; it holds no script, form or link that could
// send a printer command.
std::string StatusPageHtml(const StatusSnapshot& status);

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace tillvane
