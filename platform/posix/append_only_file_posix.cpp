#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/append_only_file.h"
#include "platform/posix/unique_fd.h"

namespace tillvane::platform {

namespace {
constexpr mode_t kNewFileMode = 0644;
}  // namespace

struct AppendOnlyFile::Handle {
    UniqueFd fd;
};

AppendOnlyFile::AppendOnlyFile() = default;
AppendOnlyFile::~AppendOnlyFile() = default;
AppendOnlyFile::AppendOnlyFile(AppendOnlyFile&&) noexcept = default;
AppendOnlyFile& AppendOnlyFile::operator=(AppendOnlyFile&&) noexcept = default;

Error AppendOnlyFile::Open(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kNewFileMode));
    if (!fd.valid()) return LastSystemError().Within("open");
    handle_ = std::make_unique<Handle>();
    handle_->fd = std::move(fd);
    return {};
}

bool AppendOnlyFile::isOpen() const {
    return handle_ && handle_->fd.valid();
}

Error AppendOnlyFile::Append(std::string_view bytes) {
    if (!isOpen()) return Error::Message("file not open");
    const int fd = handle_->fd.get();
    struct stat before {};
    if (::fstat(fd, &before) != 0) return LastSystemError().Within("fstat");
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            const Error failed = LastSystemError().Within("write");
            // Shrinking a file needs no room on the disk: this works when the disk is full.
            while (::ftruncate(fd, before.st_size) != 0) {
                if (errno == EINTR) continue;
                const Error cut = LastSystemError().Within("cutting off the part written");
                return Error(failed.code(), failed.text() + "; " + cut.text());
            }
            return failed;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

Error AppendOnlyFile::FlushToDisk() {
    if (!isOpen()) return Error::Message("file not open");
    while (::fdatasync(handle_->fd.get()) != 0) {
        if (errno == EINTR) continue;
        return LastSystemError().Within("fdatasync");
    }
    return {};
}

void AppendOnlyFile::Close() {
    handle_.reset();
}

}  // namespace tillvane::platform
