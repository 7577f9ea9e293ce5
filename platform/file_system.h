#pragma once
// The file calls whose order keeps receipts and journal records whole across a crash or a
// power cut: write, flush, move without replacing, folder flush, append, cut. Code that must
// keep that order takes a FileSystem, so that tests can watch the calls and fail any of them.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace tillvane::platform {

// A file created new for writing.
class WritableFile {
  public:
    virtual ~WritableFile() = default;
    // Writes all of `bytes` behind what was written before.
    virtual Error Write(std::string_view bytes) = 0;
    // Returns once the bytes written are on the disk.
    virtual Error FlushToDisk() = 0;
    virtual Error Close() = 0;
};

// A file that only grows.
class AppendableFile {
  public:
    virtual ~AppendableFile() = default;
    // Writes all of `bytes` at the end of the file, or none of them.
    virtual Error Append(std::string_view bytes) = 0;
    // Returns once everything appended so far is on the disk.
    virtual Error FlushToDisk() = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // Creates `path` for writing; fails with nameTaken() when it exists already.
    virtual Error CreateNewFile(const std::string& path, std::unique_ptr<WritableFile>& file) = 0;
    // Opens `path` for appending, creating it when missing.
    virtual Error OpenForAppend(const std::string& path, std::unique_ptr<AppendableFile>& file) = 0;
    // Gives `from` the name `to` in one step; fails with nameTaken() when `to` exists.
    virtual Error MoveWithoutReplacing(const std::string& from, const std::string& to) = 0;
    // Gives `from` the name `to` in one step, replacing a file `to` if there is one.
    virtual Error MoveReplacing(const std::string& from, const std::string& to) = 0;
    // Returns once the names created, moved or removed in `folder` are on the disk.
    virtual Error FlushFolder(const std::string& folder) = 0;
    virtual Error RemoveFile(const std::string& path) = 0;
    // Cuts `path` to its first `size` bytes.
    virtual Error Truncate(const std::string& path, std::uint64_t size) = 0;
};

// The system's own files. It holds no state, so every user may share it.
FileSystem& SystemFileSystem();

}  // namespace tillvane::platform
