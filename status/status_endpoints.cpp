#include "status/status_endpoints.h"

#include <string>

#include "http/web_request.h"
#include "status/service_status.h"
#include "status/status_page.h"
#include "status/status_report.h"

namespace tillvane {

bool AnswerStatusRequest(WebRequest& request, const ServiceStatus& status,
                         std::size_t queueLength) {
    const std::string& path = request.path();
    std::string_view contentType;
    std::string body;
    if (path == kStatusPath) {
        contentType = kJsonContentType;
        body = StatusJson(status.Snapshot(queueLength));
    } else if (path == kMetricsPath) {
        contentType = kMetricsContentType;
        body = MetricsText(status.Snapshot(queueLength));
    } else if (path == kStatusPagePath) {
        contentType = kHtmlContentType;
        body = StatusPageHtml(status.Snapshot(queueLength));
    } else {
        return false;
    }
    request.SetResponseHeader("Content-Type", std::string(contentType));
    request.SetResponseHeader("Cache-Control", "no-store");
    request.Write(body);
    return true;
}

}  // namespace tillvane
