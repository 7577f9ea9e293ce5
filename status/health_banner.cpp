#include "status/health_banner.h"

#include "base/utc_time.h"

namespace tillvane {

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
