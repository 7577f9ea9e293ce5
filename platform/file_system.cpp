// The system's files through the calls of each system's own implementation folder.

#include "platform/file_system.h"

#include <filesystem>
#include <system_error>

#include "platform/append_only_file.h"
#include "platform/durable_file.h"

namespace tillvane::platform {

namespace {

class SystemFiles final : public FileSystem {
  public:
    Error CreateNewFile(const std::string& path, std::unique_ptr<WritableFile>& file) override {
        auto created = std::make_unique<NewFile>();
        Error error = created->Create(path);
        if (error.ok()) file = std::move(created);
        return error;
    }
    Error OpenForAppend(const std::string& path, std::unique_ptr<AppendableFile>& file) override {
        auto opened = std::make_unique<AppendOnlyFile>();
        Error error = opened->Open(path);
        if (error.ok()) file = std::move(opened);
        return error;
    }
    Error MoveWithoutReplacing(const std::string& from, const std::string& to) override {
        return platform::MoveWithoutReplacing(from, to);
    }
    Error MoveReplacing(const std::string& from, const std::string& to) override {
        return platform::MoveReplacing(from, to);
    }
    Error FlushFolder(const std::string& folder) override { return platform::FlushFolder(folder); }
    Error RemoveFile(const std::string& path) override { return platform::RemoveFile(path); }
    Error Truncate(const std::string& path, std::uint64_t size) override {
        std::error_code ec;
        std::filesystem::resize_file(path, size, ec);
        if (ec) return Error(ec.value(), ec.message());
        return {};
    }
};

}  // namespace

FileSystem& SystemFileSystem() {
    // Stateless: sharing the one instance shares nothing that changes.
    static SystemFiles files;
    return files;
}

}  // namespace tillvane::platform
