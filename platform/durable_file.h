#pragma once
// Files that must reach the disk whole before anyone is told they exist: a new file written
// under a name of its own, flushed, then moved to the name where others will find it.

#include <memory>
#include <string>
#include <string_view>

namespace tillvane::platform {

// Why a file operation failed: the system's code (errno, GetLastError on Windows) and its
// own words for it. `nameTaken` tells a name that exists already, `nameMissing` a file or
// folder that does not, from every other failure.
struct FileError {
    int code = 0;
    std::string text;
    bool nameTaken = false;
    bool nameMissing = false;
};

// A file created new for writing; closed (without removal) when the object goes.
class NewFile {
  public:
    NewFile();
    ~NewFile();
    NewFile(NewFile&& other) noexcept;
    NewFile& operator=(NewFile&& other) noexcept;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Creates `path`; fails with `nameTaken` when a file of that name exists already.
    bool Create(const std::string& path, FileError& error);
    bool isOpen() const;
    // Writes all of `bytes` behind what was written before.
    bool Write(std::string_view bytes, FileError& error);
    // Returns once the bytes written are on the disk (fsync, FlushFileBuffers).
    bool FlushToDisk(FileError& error);
    bool Close(FileError& error);

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// Gives the file `from` the name `to` in one step, failing with `nameTaken` (and leaving both
// as they were) when `to` exists: no other file is ever replaced.
bool MoveWithoutReplacing(const std::string& from, const std::string& to, FileError& error);
// Gives the file `from` the name `to` in one step, replacing a file `to` if there is one:
// a reader sees the old file or the new one, never neither and never a part.
bool MoveReplacing(const std::string& from, const std::string& to, FileError& error);
// Returns once the names created, moved or removed in `folder` are on the disk. Linux keeps
// them apart from the files' contents and needs this; Windows moves write through already.
bool FlushFolder(const std::string& folder, FileError& error);
bool RemoveFile(const std::string& path, FileError& error);

}  // namespace tillvane::platform
