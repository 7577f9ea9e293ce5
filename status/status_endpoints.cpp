#include "status/status_endpoints.h"

#include "status/service_status.h"
#include "status/status_page.h"
#include "status/status_report.h"

namespace tillvane {

std::optional<StatusAnswer> AnswerStatusPath(std::string_view path, const ServiceStatus& status,
                                             std::size_t queueLength) {
    if (path == kStatusPath) {
        return StatusAnswer{kJsonContentType, StatusJson(status.Snapshot(queueLength))};
    }
    if (path == kMetricsPath) {
        return StatusAnswer{kMetricsContentType, MetricsText(status.Snapshot(queueLength))};
    }
    if (path == kStatusPagePath) {
        return StatusAnswer{kHtmlContentType, StatusPageHtml(status.Snapshot(queueLength))};
    }
    return std::nullopt;
}

}  // namespace tillvane
