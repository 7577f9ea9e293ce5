#pragma once
// A file that only grows, whose appended bytes can be forced onto the disk: what has been
// flushed survives a killed process and a power cut. The journal of requests is kept in one.

#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/file_system.h"

namespace tillvane::platform {

class AppendOnlyFile : public AppendableFile {
  public:
    AppendOnlyFile();
    ~AppendOnlyFile() override;
    AppendOnlyFile(AppendOnlyFile&&) noexcept;
    AppendOnlyFile& operator=(AppendOnlyFile&&) noexcept;
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

    // Opens `path` for appending, creating it when missing; others may read it meanwhile.
    Error Open(const std::string& path);
    bool isOpen() const;
    // Writes all of `bytes` at the end of the file (not yet flushed to disk), or none of them:
    // a write that fails part way (a full disk) is cut off again, so that the file ends where
    // it ended before and the next append does not join the fragment. When even the cut
    // fails, the reason says so.
    Error Append(std::string_view bytes) override;
    // Returns once everything appended so far is on the disk (fdatasync, FlushFileBuffers).
    Error FlushToDisk() override;
    void Close();

  private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

}  // namespace tillvane::platform
