#pragma once
// Two read-only views of a StatusSnapshot: JSON for programs and the Prometheus text
// exposition format for monitoring (the page for people is in status_page.h).

#include <string>
#include <string_view>

#include "status/service_status.h"

namespace tillvane {

inline constexpr std::string_view kStatusPath = "status";
inline constexpr std::string_view kMetricsPath = "metrics";

inline constexpr std::string_view kJsonContentType = "application/json";
inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

std::string StatusJson(const StatusSnapshot& status);
std::string MetricsText(const StatusSnapshot& status);

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace tillvane
