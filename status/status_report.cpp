#include "status/status_report.h"

#include <charconv>

#include "base/json_line.h"
#include "base/utc_time.h"

namespace tillvane {

namespace {

constexpr std::size_t kNumberCapacity = 64;

// Shortest text that reads back as the same double, always with "." as the decimal point.
std::string FormatDouble(double value) {
    char text[kNumberCapacity];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void AppendJsonField(std::string& json, std::string_view name, std::string_view rawValue,
                     bool last = false) {
    json += JsonString(name);
    json += ':';
    json += rawValue;
    if (!last) json += ',';
}

// Label values escape backslash, quote and line feed.
std::string PrometheusLabelValue(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void AppendMetricHeader(std::string& text, std::string_view name, std::string_view type,
                        std::string_view help) {
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += ' ';
    text += type;
    text += '\n';
}

void AppendSample(std::string& text, std::string_view name, std::string_view labels,
                  std::string_view value) {
    text += name;
    if (!labels.empty()) {
        text += '{';
        text += labels;
        text += '}';
    }
    text += ' ';
    text += value;
    text += '\n';
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string json;
    AppendJsonString(json, text);
    return json;
}

std::string StatusJson(const StatusSnapshot& status) {
    const DriverSnapshot& driver = status.driver;
    std::string json = "{";
    AppendJsonField(json, "version", JsonString(status.version));
    AppendJsonField(json, "instance", JsonString(status.instance));
    AppendJsonField(json, "startTime", JsonString(FormatUtcTimestamp(status.startTime)));
    AppendJsonField(json, "uptimeSeconds", std::to_string(status.uptime.count()));
    AppendJsonField(json, "configurationFile", JsonString(status.configurationFile));
    AppendJsonField(json, "driverModel", JsonString(status.driverModel));
    AppendJsonField(json, "receiptState",
                    JsonString(driver.published ? driver.receiptState : "starting"));
    const PortHealth& port = driver.port;
    AppendJsonField(json, "portName", JsonString(port.name));
    AppendJsonField(json, "portInUse", port.inUse.empty() ? "null" : JsonString(port.inUse));
    AppendJsonField(json, "portOpen", port.open ? "true" : "false");
    AppendJsonField(json, "portLostAt",
                    port.lostAt ? JsonString(FormatUtcTimestamp(*port.lostAt)) : "null");
    std::string lastError = "null";
    if (driver.health.lastError) {
        const PrinterError& error = *driver.health.lastError;
        lastError = "{";
        AppendJsonField(lastError, "command", JsonString(error.command));
        AppendJsonField(lastError, "code", std::to_string(error.code));
        AppendJsonField(lastError, "time", JsonString(FormatUtcTimestamp(error.time)), true);
        lastError += '}';
    }
    AppendJsonField(json, "lastPrinterError", lastError);
    std::string counts = "{";
    AppendJsonField(counts, "requests", std::to_string(status.requests()));
    AppendJsonField(counts, "receipts", std::to_string(driver.health.receiptsClosed));
    AppendJsonField(counts, "failures", std::to_string(status.requestsError));
    AppendJsonField(counts, "refusals", std::to_string(status.requestsRefused));
    AppendJsonField(counts, "replays", std::to_string(status.replays), true);
    counts += '}';
    AppendJsonField(json, "counts", counts);
    AppendJsonField(json, "queueLength", std::to_string(status.queueLength), true);
    json += '}';
    return json;
}

std::string MetricsText(const StatusSnapshot& status) {
    std::string text;
    constexpr std::string_view kRequests = "tillvane_requests_total";
    AppendMetricHeader(text, kRequests, "counter", "Command requests by how they ended.");
    AppendSample(text, kRequests, "result=\"ok\"", std::to_string(status.requestsOk));
    AppendSample(text, kRequests, "result=\"error\"", std::to_string(status.requestsError));
    AppendSample(text, kRequests, "result=\"refused\"", std::to_string(status.requestsRefused));
    AppendSample(text, kRequests, "result=\"replay\"", std::to_string(status.replays));

    constexpr std::string_view kReceipts = "tillvane_receipts_total";
    AppendMetricHeader(text, kReceipts, "counter", "Receipts closed on the printer.");
    AppendSample(text, kReceipts, {}, std::to_string(status.driver.health.receiptsClosed));

    constexpr std::string_view kReplays = "tillvane_replays_total";
    AppendMetricHeader(text, kReplays, "counter",
                       "Requests answered from an earlier answer without printing again.");
    AppendSample(text, kReplays, {}, std::to_string(status.replays));

    constexpr std::string_view kPrinterErrors = "tillvane_printer_errors_total";
    AppendMetricHeader(text, kPrinterErrors, "counter",
                       "Printer commands that ended with an error code, by code.");
    for (const auto& [code, count] : status.driver.health.errorsByCode) {
        AppendSample(text, kPrinterErrors,
                     "code=\"" + PrometheusLabelValue(std::to_string(code)) + "\"",
                     std::to_string(count));
    }

    constexpr std::string_view kDuration = "tillvane_request_duration_seconds";
    AppendMetricHeader(text, kDuration, "histogram",
                       "Time from a command request's arrival to its answer.");
    const std::string bucket = std::string(kDuration) + "_bucket";
    for (std::size_t i = 0; i < kRequestDurationBuckets.size(); ++i) {
        AppendSample(text, bucket, "le=\"" + FormatDouble(kRequestDurationBuckets[i]) + "\"",
                     std::to_string(status.durationBucketCounts[i]));
    }
    AppendSample(text, bucket, "le=\"+Inf\"", std::to_string(status.durationCount));
    AppendSample(text, std::string(kDuration) + "_sum", {},
                 FormatDouble(status.durationSumSeconds));
    AppendSample(text, std::string(kDuration) + "_count", {}, std::to_string(status.durationCount));

    constexpr std::string_view kQueue = "tillvane_queue_length";
    AppendMetricHeader(text, kQueue, "gauge", "Command requests waiting for the printer.");
    AppendSample(text, kQueue, {}, std::to_string(status.queueLength));

    constexpr std::string_view kPortOpen = "tillvane_port_open";
    AppendMetricHeader(text, kPortOpen, "gauge", "1 while the printer's port is open.");
    AppendSample(text, kPortOpen, {}, status.driver.port.open ? "1" : "0");

    constexpr std::string_view kPortLosses = "tillvane_port_losses_total";
    AppendMetricHeader(text, kPortLosses, "counter",
                       "Times the printer's open port went away (adapter unplugged).");
    AppendSample(text, kPortLosses, {}, std::to_string(status.driver.port.losses));

    constexpr std::string_view kStart = "tillvane_start_time_seconds";
    AppendMetricHeader(text, kStart, "gauge", "When the service started, in Unix time.");
    AppendSample(text, kStart, {},
                 std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                    status.startTime.time_since_epoch())
                                    .count()));

    constexpr std::string_view kInfo = "tillvane_build_info";
    AppendMetricHeader(text, kInfo, "gauge",
                       "Always 1; the labels tell the version, driver and service instance.");
    // "service", not "instance": Prometheus gives every scraped series an instance label of
    // its own (the target's address).
    AppendSample(text, kInfo,
                 "version=\"" + PrometheusLabelValue(status.version) + "\",driver_model=\"" +
                     PrometheusLabelValue(status.driverModel) + "\",service=\"" +
                     PrometheusLabelValue(status.instance) + "\"",
                 "1");
    return text;
}

}  // namespace tillvane
