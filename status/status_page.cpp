#include "status/status_page.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/html_escape.h"
#include "base/utc_time.h"
#include "status/health_banner.h"

namespace tillvane {

namespace {

// Seconds between the page's reloads.
constexpr int kStatusPageRefreshSeconds = 5;

std::string LastErrorText(const DriverSnapshot& driver) {
    if (!driver.health.lastError) return "none";
    const PrinterError& error = *driver.health.lastError;
    return error.text + " at " + FormatUtcTimestamp(error.time);
}

std::string WaitingReceiptsText(const ReceiptBacklog& backlog) {
    std::string text = std::to_string(backlog.waiting);
    if (backlog.countCut) text += " or more";
    if (backlog.oldestSince)
        text += ", the oldest since " + FormatUtcTimestamp(*backlog.oldestSince);
    return text;
}

void AppendCell(std::string& html, std::string_view value) {
    html += "<td>";
    html += EscapeHtml(value);
    html += "</td>";
}

// The last requests, newest first; the till's name where the request named one, its address
// otherwise.
void AppendRecentRequests(std::string& html, const std::vector<RecentRequest>& requests) {
    html += "<h2>Last requests</h2>";
    if (requests.empty()) {
        html += "<p>none yet</p>";
        return;
    }
    html +=
        "<table class=\"recent\"><tr><th>Time (UTC)</th><th>Till or "
        "client</th><th>Request</th><th>Status</th><th>Answer</th><th>ms</th></tr>";
    for (const RecentRequest& request : requests) {
        html += "<tr>";
        AppendCell(html, FormatUtcTimestamp(request.time));
        AppendCell(html, request.till.empty() ? request.client : request.till);
        AppendCell(html, request.summary);
        AppendCell(html, request.status == 0 ? "none" : std::to_string(request.status));
        AppendCell(html, request.replay ? "replay, not printed again: " + request.outcome
                                        : request.outcome);
        AppendCell(html, std::to_string(request.milliseconds));
        html += "</tr>";
    }
    html += "</table>";
}

}  // namespace

std::string StatusPageHtml(const StatusSnapshot& status) {
    const DriverSnapshot& driver = status.driver;
    std::vector<std::pair<std::string_view, std::string>> rows = {
        {"Instance", status.instance},
        {"Version", status.version},
        {"Started", FormatUtcTimestamp(status.startTime)},
        {"Uptime", std::to_string(status.uptime.count()) + " s"},
        {"Configuration file", status.configurationFile},
        {"Driver model", status.driverModel},
        {"Receipt state", driver.published ? driver.receiptState : "starting"},
        {"Last printer error", LastErrorText(driver)},
        {"Request journal",
         status.journalProblem.empty() ? "writable" : "not writable: " + status.journalProblem},
        {"Requests", std::to_string(status.requests())},
        {"Receipts", std::to_string(driver.health.receiptsClosed)},
        {"Failures", std::to_string(status.requestsError)},
        {"Refusals", std::to_string(status.requestsRefused)},
        {"Replays", std::to_string(status.replays)},
        {"Waiting for the printer", std::to_string(status.queueLength)},
    };
    // Only the serial driver has a port; only the text driver has a folder.
    constexpr std::size_t kDriverRowsAt = 6;
    auto driverRows = rows.begin() + kDriverRowsAt;
    if (!driver.port.name.empty()) {
        rows.insert(driverRows,
                    {{"Port", driver.port.name},
                     {"Port in use", driver.port.inUse.empty() ? "none" : driver.port.inUse},
                     {"Port open", driver.port.open ? "yes" : "no"},
                     {"Port lost at",
                      driver.port.lostAt ? FormatUtcTimestamp(*driver.port.lostAt) : "none"}});
    } else if (driver.receiptFolder && status.receiptBacklog) {
        rows.insert(driverRows, {{"Receipt folder", driver.receiptFolder->folder},
                                 {"Receipts waiting for the printer's software",
                                  WaitingReceiptsText(*status.receiptBacklog)}});
    }
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"refresh\" content=\"" +
        std::to_string(kStatusPageRefreshSeconds) +
        // Several instances open side by side: each tab names its own.
        "\"><title>" +
        EscapeHtml(status.instance.empty() ? std::string("Tillvane") : status.instance) +
        " status</title><style>"
        "body{font-family:sans-serif;margin:2em;color:#222}"
        "table{border-collapse:collapse}th,td{padding:.3em .8em;border-bottom:1px solid #ccc;"
        "text-align:left}th{font-weight:normal;color:#555}"
        ".banner{font-size:1.4em;padding:.5em 1em;border-radius:.3em}"
        ".healthy{background:#d8f5d8}.degraded{background:#fbeec2}.unhealthy{background:#f8d0d0}"
        ".recent td{font-family:monospace}.recent td:first-child{white-space:nowrap}"
        "</style></head><body><h1>Tillvane status</h1>";
    const HealthBanner banner = HealthBannerOf(status, std::chrono::system_clock::now());
    html += "<p class=\"banner ";
    html += HealthName(banner.health);
    html += "\">";
    html += EscapeHtml(banner.text);
    html += "</p><table>";
    for (const auto& [name, value] : rows) {
        html += "<tr><th>";
        html += name;
        html += "</th><td>";
        html += EscapeHtml(value);
        html += "</td></tr>";
    }
    html += "</table>";
    AppendRecentRequests(html, status.recentRequests);
    html += "<p>This page reloads every " + std::to_string(kStatusPageRefreshSeconds) +
            " seconds.</p></body></html>\n";
    return html;
}

}  // namespace tillvane
