// What the status page's banner says as the driver's state, its port, the printer's silence
// and an open receipt come and go.

#include "status/health_banner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/utc_time.h"
#include "registers/serial/serial_link.h"
#include "status/service_status.h"
#include "tests/commands/recording_register.h"

namespace tillvane::testing {
namespace {

// A driver with a serial port, open or not.
class PortRegister : public RecordingRegister {
  public:
    PortHealth Port() const override {
        PortHealth port;
        port.name = "COM1";
        port.inUse = open ? "COM1" : "";
        port.open = open;
        return port;
    }
    bool open = true;
};

struct BannerRow {
    const char* name;
    std::function<void(ServiceStatus&, PortRegister&)> events;
    std::chrono::minutes later;  // when the page is looked at
    std::string banner;          // "<silent>": not answering since the silent error's time
    Health health;
};

TEST(HealthBanner, SaysInWordsWhetherThePrinterCanPrint) {
    const std::vector<BannerRow> rows = {
        {"not reported yet", [](ServiceStatus&, PortRegister&) {}, std::chrono::minutes{0},
         "Degraded: starting, the driver has not reported yet", Health::degraded},
        {"no driver", [](ServiceStatus& s, PortRegister&) { s.PublishDriver(nullptr); },
         std::chrono::minutes{0}, "Unhealthy: no printer driver configured", Health::unhealthy},
        {"driver not configured",
         [](ServiceStatus& s, PortRegister& d) {
             d.state = ReceiptState::unconfigured;
             s.PublishDriver(&d);
         },
         std::chrono::minutes{0},
         "Unhealthy: the driver's settings did not load; see the register log", Health::unhealthy},
        {"ready", [](ServiceStatus& s, PortRegister& d) { s.PublishDriver(&d); },
         std::chrono::minutes{0}, "Healthy: ready to print", Health::healthy},
        {"port closed",
         [](ServiceStatus& s, PortRegister& d) {
             d.open = false;
             s.PublishDriver(&d);
         },
         std::chrono::minutes{0}, "Unhealthy: port closed", Health::unhealthy},
        {"printer silent",
         [](ServiceStatus& s, PortRegister& d) {
             d.health.RecordPrinterError(kLinkSilent, "CloseReceipt", {}, true);
             s.PublishDriver(&d);
         },
         std::chrono::minutes{1}, "<silent>", Health::unhealthy},
        {"still silent: the first silence counts",
         [](ServiceStatus& s, PortRegister& d) {
             d.health.RecordPrinterError(kLinkSilent, "CloseReceipt", {}, true);
             s.PublishDriver(&d);
             const PrinterError first = *d.health.lastError;
             d.health.RecordPrinterError(kLinkEmptyResponse, "BeginSell", {}, true);
             d.health.lastError->time = first.time + std::chrono::seconds{30};
             s.PublishDriver(&d);
             d.health.lastError = first;  // the banner names this one's time
         },
         std::chrono::minutes{1}, "<silent>", Health::unhealthy},
        {"silent, then a request the printer confirmed",
         [](ServiceStatus& s, PortRegister& d) {
             d.health.RecordPrinterError(kLinkSilent, "CloseReceipt", {}, true);
             s.PublishDriver(&d);
             RecentRequest answered;
             answered.time = std::chrono::system_clock::now() + std::chrono::seconds{1};
             s.RecordRecent(answered, true);
             s.PublishDriver(&d);
         },
         std::chrono::minutes{1}, "Healthy: ready to print", Health::healthy},
        {"silent, then a receipt closed",
         [](ServiceStatus& s, PortRegister& d) {
             d.health.RecordPrinterError(kLinkSilent, "CloseReceipt", {}, true);
             s.PublishDriver(&d);
             ++d.health.receiptsClosed;
             s.PublishDriver(&d);
         },
         std::chrono::minutes{1}, "Healthy: ready to print", Health::healthy},
        {"an error the printer answered is no silence",
         [](ServiceStatus& s, PortRegister& d) {
             d.health.RecordPrinterError(kLinkNak, "PrintText", {}, false);
             s.PublishDriver(&d);
         },
         std::chrono::minutes{1}, "Healthy: ready to print", Health::healthy},
        {"receipt open too long",
         [](ServiceStatus& s, PortRegister& d) {
             d.state = ReceiptState::selling;
             s.PublishDriver(&d);
         },
         std::chrono::minutes{11}, "Degraded: receipt open for 11 min", Health::degraded},
        {"receipt open a short while",
         [](ServiceStatus& s, PortRegister& d) {
             d.state = ReceiptState::selling;
             s.PublishDriver(&d);
         },
         std::chrono::minutes{3}, "Healthy: ready to print", Health::healthy},
        {"receipt closed again",
         [](ServiceStatus& s, PortRegister& d) {
             d.state = ReceiptState::selling;
             s.PublishDriver(&d);
             d.state = ReceiptState::ready;
             s.PublishDriver(&d);
         },
         std::chrono::minutes{11}, "Healthy: ready to print", Health::healthy},
        {"a closed port outweighs an open receipt",
         [](ServiceStatus& s, PortRegister& d) {
             d.state = ReceiptState::afterSell;
             d.open = false;
             s.PublishDriver(&d);
         },
         std::chrono::minutes{11}, "Unhealthy: port closed", Health::unhealthy},
    };
    for (const BannerRow& row : rows) {
        SCOPED_TRACE(row.name);
        ServiceStatus status;
        PortRegister driver;
        row.events(status, driver);
        const auto now = std::chrono::system_clock::now() + row.later;
        const HealthBanner banner = HealthBannerOf(status.Snapshot(0), now);
        const std::string expected = row.banner == "<silent>"
                                         ? "Unhealthy: printer not answering since " +
                                               FormatUtcTimestamp(driver.health.lastError->time)
                                         : row.banner;
        EXPECT_EQ(banner.text, expected);
        EXPECT_EQ(banner.health, row.health);
    }
}

}  // namespace
}  // namespace tillvane::testing
