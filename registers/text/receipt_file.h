#pragma once
// The open receipt's file: created under a temporary name, then written whole, flushed to the
// disk and only then moved to the name the printer's software watches for, so that the
// printer sees all of a receipt or nothing, even after a crash or a power cut.

#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/file_system.h"

namespace tillvane {

class ReceiptFile {
  public:
    explicit ReceiptFile(platform::FileSystem& files) : files_(files) {}

    // Creates the temporary file `temporaryPath`; fails with nameTaken() when it exists.
    platform::Error Create(const std::string& temporaryPath);
    // Path of the temporary file; empty once published or removed.
    const std::string& temporaryPath() const { return temporaryPath_; }

    // Writes `text` in one write, flushes it to the disk, closes the file and moves it to
    // the receipt `name` in `folder` (already normalised), then flushes the folder.
    // `fixedName`: the name is the same for every receipt and each replaces the last one.
    // Otherwise a name that exists takes the next free suffix. `receiptPath` follows the
    // names tried, ending at the one used. Not ok when the receipt is not whole on the disk
    // under its name; a receipt moved but whose folder could not be flushed is removed again.
    platform::Error Publish(std::string_view text, const std::string& folder,
                            const std::string& name, bool fixedName, std::string& receiptPath);

    // Closes and removes the temporary file; a file someone else took away already is as
    // good as removed.
    platform::Error Discard();

  private:
    platform::Error MoveToReceiptName(const std::string& folder, const std::string& name,
                                      bool fixedName, std::string& receiptPath);

    platform::FileSystem& files_;
    std::unique_ptr<platform::WritableFile> file_;
    std::string temporaryPath_;
};

}  // namespace tillvane
