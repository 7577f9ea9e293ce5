#pragma once
// Receipts the printer's own software has not taken yet: the driver's files still under their
// final names in its folder. Counted when the status is read, so a quiet service costs
// nothing, and never more than a bounded number of names, so a folder that grew huge does not
// hold the status up. It only lists the folder, whose name never changes once the driver has
// started, so any thread may count.

#include <cstddef>

#include "registers/printer_health.h"

namespace tillvane {

// Folder entries one count looks at; past it the count says "at least".
inline constexpr std::size_t kMaxReceiptFolderEntriesScanned = 10000;

// Counts the receipt files in `folder.folder`: `folder.fixedName` ".txt", or without a fixed
// name the time-stamped ones ("BON_..." ".txt"), letters in any case. A receipt still being
// written has another name.
ReceiptBacklog CountWaitingReceipts(const ReceiptFolderHealth& folder);

}  // namespace tillvane
