#include "tests/support/recording_file_system.h"

#include <cerrno>

namespace tillvane::testing {

namespace {

// A file of the recording file system: its calls go to the record under the file's path.
class RecordedFile final : public platform::WritableFile, public platform::AppendableFile {
  public:
    RecordedFile(RecordingFileSystem& files, std::string path)
        : files_(files), path_(std::move(path)) {}
    platform::Error Write(std::string_view) override { return files_.Record("write", path_); }
    platform::Error Append(std::string_view) override { return files_.Record("append", path_); }
    platform::Error FlushToDisk() override { return files_.Record("flush", path_); }
    platform::Error Close() override { return files_.Record("close", path_); }

  private:
    RecordingFileSystem& files_;
    const std::string path_;
};

}  // namespace

std::vector<std::string> RecordingFileSystem::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> RecordingFileSystem::Operations() const {
    std::vector<std::string> operations;
    for (const std::string& call : Calls()) operations.push_back(call.substr(0, call.find(' ')));
    return operations;
}

void RecordingFileSystem::Fail(const std::string& operation, int times, platform::ErrorKind kind) {
    std::lock_guard lock(mutex_);
    failures_[operation] = {times, kind};
}

platform::Error RecordingFileSystem::Record(const std::string& operation, const std::string& what) {
    std::lock_guard lock(mutex_);
    calls_.push_back(operation + " " + what);
    const auto planted = failures_.find(operation);
    if (planted == failures_.end() || planted->second.times == 0) return {};
    --planted->second.times;
    return platform::Error(EIO, kFailureText, planted->second.kind);
}

platform::Error RecordingFileSystem::CreateNewFile(const std::string& path,
                                                   std::unique_ptr<platform::WritableFile>& file) {
    platform::Error error = Record("create", path);
    if (error.ok()) file = std::make_unique<RecordedFile>(*this, path);
    return error;
}

platform::Error RecordingFileSystem::OpenForAppend(
    const std::string& path, std::unique_ptr<platform::AppendableFile>& file) {
    platform::Error error = Record("open", path);
    if (error.ok()) file = std::make_unique<RecordedFile>(*this, path);
    return error;
}

platform::Error RecordingFileSystem::MoveWithoutReplacing(const std::string& from,
                                                          const std::string& to) {
    return Record("move", from + " " + to);
}

platform::Error RecordingFileSystem::MoveReplacing(const std::string& from, const std::string& to) {
    return Record("replace", from + " " + to);
}

platform::Error RecordingFileSystem::FlushFolder(const std::string& folder) {
    return Record("flush-folder", folder);
}

platform::Error RecordingFileSystem::RemoveFile(const std::string& path) {
    return Record("remove", path);
}

platform::Error RecordingFileSystem::Truncate(const std::string& path, std::uint64_t size) {
    return Record("truncate", path + " " + std::to_string(size));
}

}  // namespace tillvane::testing
