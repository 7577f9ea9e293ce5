#include "status/status_report.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "base/json_line.h"
#include "base/utc_time.h"
#include "status/health_banner.h"

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

std::string JsonStringOrNull(std::string_view text) {
    return text.empty() ? std::string("null") : JsonString(text);
}

// The text driver's folder and the receipts waiting in it; null for other drivers.
std::string ReceiptFolderJson(const StatusSnapshot& status) {
    const std::optional<ReceiptFolderHealth>& folder = status.driver.receiptFolder;
    if (!folder || !status.receiptBacklog) return "null";
    const ReceiptBacklog& backlog = *status.receiptBacklog;
    std::string json = "{";
    AppendJsonField(json, "path", JsonString(folder->folder));
    AppendJsonField(json, "problem", JsonStringOrNull(ReceiptFolderProblem(status)));
    AppendJsonField(json, "receiptsWaiting", std::to_string(backlog.waiting));
    AppendJsonField(json, "countCut", backlog.countCut ? "true" : "false");
    AppendJsonField(
        json, "oldestWaitingSince",
        backlog.oldestSince ? JsonString(FormatUtcTimestamp(*backlog.oldestSince)) : "null");
    AppendJsonField(json, "waitAlertSeconds", std::to_string(status.receiptWaitAlert.count()),
                    true);
    json += '}';
    return json;
}

void AppendGauge(std::string& text, std::string_view name, std::string_view help,
                 std::string_view value) {
    AppendMetricHeader(text, name, "gauge", help);
    AppendSample(text, name, {}, value);
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
    // The port fields are the serial driver's: null where there is no port at all.
    const PortHealth& port = driver.port;
    const bool hasPort = !port.name.empty();
    AppendJsonField(json, "portName", hasPort ? JsonString(port.name) : "null");
    AppendJsonField(json, "portInUse", port.inUse.empty() ? "null" : JsonString(port.inUse));
    AppendJsonField(json, "portOpen", !hasPort ? "null" : port.open ? "true" : "false");
    AppendJsonField(json, "portLostAt",
                    port.lostAt ? JsonString(FormatUtcTimestamp(*port.lostAt)) : "null");
    AppendJsonField(json, "journalWritable", status.journalProblem.empty() ? "true" : "false");
    AppendJsonField(json, "journalProblem", JsonStringOrNull(status.journalProblem));
    AppendJsonField(json, "receiptFolder", ReceiptFolderJson(status));
    std::string lastError = "null";
    if (driver.health.lastError) {
        const PrinterError& error = *driver.health.lastError;
        lastError = "{";
        AppendJsonField(lastError, "command", JsonString(error.command));
        AppendJsonField(lastError, "code", std::to_string(error.code));
        AppendJsonField(lastError, "time", JsonString(FormatUtcTimestamp(error.time)));
        AppendJsonField(lastError, "reason", JsonStringOrNull(error.reason), true);
        lastError += '}';
    }
    AppendJsonField(json, "lastPrinterError", lastError);
    std::string unfinished = "null";
    if (driver.health.unfinishedReceipt) {
        unfinished = "{";
        AppendJsonField(unfinished, "since",
                        JsonString(FormatUtcTimestamp(driver.health.unfinishedReceipt->since)));
        AppendJsonField(unfinished, "reason", JsonString(driver.health.unfinishedReceipt->reason),
                        true);
        unfinished += '}';
    }
    AppendJsonField(json, "unfinishedReceipt", unfinished);
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

    // A driver without a port has neither port figures nor a printer that could fall silent.
    if (!status.driver.port.name.empty()) {
        constexpr std::string_view kPortOpen = "tillvane_port_open";
        AppendMetricHeader(text, kPortOpen, "gauge", "1 while the printer's port is open.");
        AppendSample(text, kPortOpen, {}, status.driver.port.open ? "1" : "0");

        constexpr std::string_view kPortLosses = "tillvane_port_losses_total";
        AppendMetricHeader(text, kPortLosses, "counter",
                           "Times the printer's open port went away (adapter unplugged).");
        AppendSample(text, kPortLosses, {}, std::to_string(status.driver.port.losses));

        AppendGauge(text, "tillvane_printer_answering",
                    "0 from the first command the printer did not answer until it answers again.",
                    status.printerSilentSince ? "0" : "1");
    }

    AppendGauge(text, "tillvane_journal_writable", "1 while the request journal can be written.",
                status.journalProblem.empty() ? "1" : "0");

    if (status.driver.receiptFolder && status.receiptBacklog) {
        const ReceiptBacklog& backlog = *status.receiptBacklog;
        AppendGauge(text, "tillvane_receipt_folder_writable",
                    "1 while receipt files can be written to the output folder.",
                    ReceiptFolderProblem(status).empty() ? "1" : "0");
        AppendGauge(text, "tillvane_receipts_waiting",
                    "Receipt files in the output folder the printer's software has not taken.",
                    std::to_string(backlog.waiting));
        const auto age = backlog.oldestSince
                             ? std::chrono::duration_cast<std::chrono::seconds>(
                                   std::chrono::system_clock::now() - *backlog.oldestSince)
                             : std::chrono::seconds{0};
        AppendGauge(text, "tillvane_receipts_waiting_oldest_seconds",
                    "Age of the oldest receipt file waiting in the output folder; 0 when none.",
                    std::to_string(std::max<std::int64_t>(0, age.count())));
        AppendGauge(text, "tillvane_receipt_wait_alert_seconds",
                    "receiptWaitAlertSeconds: the age of waiting receipts that is too old; 0: off.",
                    std::to_string(status.receiptWaitAlert.count()));
    }

    constexpr std::string_view kUnfinished = "tillvane_unfinished_receipt";
    AppendMetricHeader(text, kUnfinished, "gauge",
                       "1 while the printer holds a receipt the service could not finish.");
    AppendSample(text, kUnfinished, {}, status.driver.health.unfinishedReceipt ? "1" : "0");

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
