#pragma once
// Receipts the printer's own software has not taken yet: the text driver's files still under
// their final names in its folder. Counted when the status is read, so a quiet service costs
// nothing, and never more than a bounded number of names, so a folder that grew huge does not
// hold the status up.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "config/settings.h"

namespace tillvane {

// Folder entries one count looks at; past it the count says "at least".
inline constexpr std::size_t kMaxReceiptFolderEntriesScanned = 10000;
// From this age on, by default, a waiting receipt turns the banner to "Degraded".
inline constexpr std::chrono::seconds kDefaultReceiptWaitAlert{kDefaultReceiptWaitAlertSeconds};

struct ReceiptBacklog {
    std::size_t waiting = 0;
    bool countCut = false;  // the scan stopped at its bound: `waiting` or more
    // The oldest waiting receipt's last change; none while none waits.
    std::optional<std::chrono::system_clock::time_point> oldestSince;
    std::string listProblem;  // why the folder could not be listed; empty when it could
};

// Counts the receipt files in `folder`: `fixedName` ".txt", or without a fixed name the
// time-stamped ones ("BON_..." ".txt"), letters in any case. A receipt still being written has
// another name.
ReceiptBacklog CountWaitingReceipts(const std::string& folder, const std::string& fixedName);

}  // namespace tillvane
