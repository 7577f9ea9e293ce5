#pragma once
// Files that must reach the disk whole before anyone is told they exist: a new file written
// under a name of its own, flushed, then moved to the name where others will find it.

#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/file_system.h"

namespace tillvane::platform {

// A file created new for writing; closed (without removal) when the object goes.
class NewFile : public WritableFile {
  public:
    NewFile();
    ~NewFile() override;
    NewFile(NewFile&& other) noexcept;
    NewFile& operator=(NewFile&& other) noexcept;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Creates `path`; fails with nameTaken() when a file of that name exists already.
    Error Create(const std::string& path);
    bool isOpen() const;
    // Writes all of `bytes` behind what was written before.
    Error Write(std::string_view bytes) override;
    // Returns once the bytes written are on the disk (fsync, FlushFileBuffers).
    Error FlushToDisk() override;
    Error Close() override;

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// Gives the file `from` the name `to` in one step, failing with nameTaken() (and leaving both
// as they were) when `to` exists: no other file is ever replaced.
Error MoveWithoutReplacing(const std::string& from, const std::string& to);
// Gives the file `from` the name `to` in one step, replacing a file `to` if there is one:
// a reader sees the old file or the new one, never neither and never a part.
Error MoveReplacing(const std::string& from, const std::string& to);
// Returns once the names created, moved or removed in `folder` are on the disk. Linux keeps
// them apart from the files' contents and needs this; Windows moves write through already.
Error FlushFolder(const std::string& folder);
Error RemoveFile(const std::string& path);

}  // namespace tillvane::platform
