#pragma once
// Remembers, across a restart or a crash, that the printer may hold a receipt nobody will
// finish: the file exists from the moment a receipt's open goes out until it is closed, or
// until the printer shows that nothing is open any more. One line: the Unix time in
// milliseconds since when, a blank and why; no reason means the receipt was still being
// built when the file was last written.

#include <optional>
#include <string>

#include "platform/error.h"
#include "registers/printer_health.h"

namespace tillvane {

class UnfinishedReceiptFile {
  public:
    // Beside the register log at `registerLogPath`, its extension replaced; an empty path keeps
    // nothing.
    void SetPlace(const std::string& registerLogPath);
    const std::string& path() const { return path_; }

    // What the file says, or none when there is no (readable) file.
    std::optional<UnfinishedReceipt> Load() const;
    // Writes the record whole (a new file moved over the old).
    platform::Error Save(const UnfinishedReceipt& receipt) const;
    void Clear() const;

  private:
    std::string path_;
};

}  // namespace tillvane
