#pragma once
// A file that only grows, whose appended bytes can be forced onto the disk: what has been
// flushed survives a killed process and a power cut. The journal of requests is kept in one.

#include <memory>
#include <string>
#include <string_view>

namespace tillvane::platform {

class AppendOnlyFile {
  public:
    AppendOnlyFile();
    ~AppendOnlyFile();
    AppendOnlyFile(AppendOnlyFile&&) noexcept;
    AppendOnlyFile& operator=(AppendOnlyFile&&) noexcept;
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

    // Opens `path` for appending, creating it when missing; others may read it meanwhile.
    // False with the system's reason in `error`.
    bool Open(const std::string& path, std::string& error);
    bool isOpen() const;
    // Writes all of `bytes` at the end of the file (not yet flushed to disk), or none of them:
    // a write that fails part way (a full disk) is cut off again, so that the file ends where
    // it ended before and the next append does not join the fragment. False with the reason;
    // when even the cut fails, the reason says so.
    bool Append(std::string_view bytes, std::string& error);
    // Returns once everything appended so far is on the disk (fdatasync, FlushFileBuffers).
    bool FlushToDisk(std::string& error);
    void Close();

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

}  // namespace tillvane::platform
