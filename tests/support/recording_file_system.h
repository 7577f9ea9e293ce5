#pragma once
// A file system that touches no disk: it records every file call in order and fails the ones
// a test asks it to, so that tests can see the order of writes, flushes and moves and walk
// every failure path.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tillvane::testing {

class RecordingFileSystem : public platform::FileSystem {
  public:
    // The calls so far, each "<operation> <path>" ("move <from> <to>" for the moves). The
    // operations: create, write, flush, close, move, replace, flush-folder, remove, open,
    // append, truncate.
    std::vector<std::string> Calls() const;
    // The operations of the calls so far, in order, without their paths.
    std::vector<std::string> Operations() const;
    // Fails the next `times` calls of `operation` (recorded all the same), each with `kind`.
    void Fail(const std::string& operation, int times = 1,
              platform::ErrorKind kind = platform::ErrorKind::other);
    // The text each planted failure gives.
    static constexpr const char* kFailureText = "planted failure";

    platform::Error CreateNewFile(const std::string& path,
                                  std::unique_ptr<platform::WritableFile>& file) override;
    platform::Error OpenForAppend(const std::string& path,
                                  std::unique_ptr<platform::AppendableFile>& file) override;
    platform::Error MoveWithoutReplacing(const std::string& from, const std::string& to) override;
    platform::Error MoveReplacing(const std::string& from, const std::string& to) override;
    platform::Error FlushFolder(const std::string& folder) override;
    platform::Error RemoveFile(const std::string& path) override;
    platform::Error Truncate(const std::string& path, std::uint64_t size) override;

    // Records `operation` on `what`; its planted failure, if one is due.
    platform::Error Record(const std::string& operation, const std::string& what);

  private:
    struct Planted {
        int times = 0;
        platform::ErrorKind kind = platform::ErrorKind::other;
    };
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::map<std::string, Planted> failures_;
};

}  // namespace tillvane::testing
