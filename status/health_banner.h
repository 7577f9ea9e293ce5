#pragma once
// The status page's answer to "is it healthy?", in words, from the state the service already
// tracks: the driver's published state, its port, the printer's silence and an open receipt.

#include <chrono>
#include <string>
#include <string_view>

#include "status/service_status.h"

namespace tillvane {

// A receipt open this long is most likely a till that stopped mid-sale.
inline constexpr std::chrono::minutes kReceiptOpenTooLong{10};

enum class Health { healthy, degraded, unhealthy };

struct HealthBanner {
    Health health = Health::healthy;
    std::string text;  // "Healthy: ready to print", "Unhealthy: port closed", ...
};

HealthBanner HealthBannerOf(const StatusSnapshot& status,
                            std::chrono::system_clock::time_point now);

// Why the text driver's receipts cannot reach its folder (the last write failed, or the folder
// cannot be listed); empty when they can, and for other drivers.
std::string ReceiptFolderProblem(const StatusSnapshot& status);
// True when the oldest receipt waiting for the printer's software is older than the setting.
bool ReceiptsWaitTooLong(const StatusSnapshot& status, std::chrono::system_clock::time_point now);

// "healthy", "degraded" or "unhealthy": the banner's class on the page.
std::string_view HealthName(Health health);

}  // namespace tillvane
