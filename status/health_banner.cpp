#include "status/health_banner.h"

#include "base/utc_time.h"

namespace tillvane {

std::string ReceiptFolderProblem(const StatusSnapshot& status) {
    if (!status.driver.receiptFolder) return {};
    if (!status.driver.receiptFolder->problem.empty()) return status.driver.receiptFolder->problem;
    return status.receiptBacklog ? status.receiptBacklog->listProblem : std::string();
}

bool ReceiptsWaitTooLong(const StatusSnapshot& status, std::chrono::system_clock::time_point now) {
    const std::optional<ReceiptBacklog>& backlog = status.receiptBacklog;
    return status.receiptWaitAlert.count() > 0 && backlog && backlog->oldestSince &&
           now - *backlog->oldestSince >= status.receiptWaitAlert;
}

HealthBanner HealthBannerOf(const StatusSnapshot& status,
                            std::chrono::system_clock::time_point now) {
    const DriverSnapshot& driver = status.driver;
    if (!driver.published)
        return {Health::degraded, "Degraded: starting, the driver has not reported yet"};
    if (driver.receiptState == "none") {
        return {Health::unhealthy, "Unhealthy: no printer driver configured"};
    }
    // Only the serial driver has a port; the text-file driver's is always "closed". A port that
    // would not open also leaves the driver unconfigured: the port is the reason to name.
    if (!driver.port.name.empty() && !driver.port.open) {
        return {Health::unhealthy, "Unhealthy: port closed"};
    }
    if (driver.receiptState == "unconfigured") {
        return {Health::unhealthy,
                "Unhealthy: the driver's settings did not load; see the register log"};
    }
    if (const std::string problem = ReceiptFolderProblem(status); !problem.empty()) {
        return {Health::unhealthy, "Unhealthy: receipts cannot be written to " +
                                       driver.receiptFolder->folder + ": " + problem};
    }
    if (!status.journalProblem.empty()) {
        return {Health::unhealthy,
                "Unhealthy: request journal not writable: " + status.journalProblem};
    }
    if (status.printerSilentSince) {
        return {Health::unhealthy, "Unhealthy: printer not answering since " +
                                       FormatUtcTimestamp(*status.printerSilentSince)};
    }
    if (const auto& unfinished = driver.health.unfinishedReceipt) {
        return {Health::degraded, "Degraded: the printer holds an unfinished receipt since " +
                                      FormatUtcTimestamp(unfinished->since) + " (" +
                                      unfinished->reason + ")"};
    }
    if (status.receiptOpenSince && now - *status.receiptOpenSince >= kReceiptOpenTooLong) {
        const auto minutes =
            std::chrono::duration_cast<std::chrono::minutes>(now - *status.receiptOpenSince);
        return {Health::degraded,
                "Degraded: receipt open for " + std::to_string(minutes.count()) + " min"};
    }
    if (ReceiptsWaitTooLong(status, now)) {
        return {Health::degraded, "Degraded: " + std::to_string(status.receiptBacklog->waiting) +
                                      " receipts waiting since " +
                                      FormatUtcTimestamp(*status.receiptBacklog->oldestSince) +
                                      ": is the printer software running?"};
    }
    return {Health::healthy, "Healthy: ready to print"};
}

std::string_view HealthName(Health health) {
    switch (health) {
        case Health::healthy:
            return "healthy";
        case Health::degraded:
            return "degraded";
        case Health::unhealthy:
            break;
    }
    return "unhealthy";
}

}  // namespace tillvane
