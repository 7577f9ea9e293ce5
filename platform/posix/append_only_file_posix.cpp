#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/append_only_file.h"
#include "platform/posix/unique_fd.h"

namespace tillvane::platform {

namespace {
constexpr mode_t kNewFileMode = 0644;

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}
}  // namespace

struct AppendOnlyFile::Handle {
    UniqueFd fd;
};

AppendOnlyFile::AppendOnlyFile() = default;
AppendOnlyFile::~AppendOnlyFile() = default;
AppendOnlyFile::AppendOnlyFile(AppendOnlyFile&&) noexcept = default;
AppendOnlyFile& AppendOnlyFile::operator=(AppendOnlyFile&&) noexcept = default;

bool AppendOnlyFile::Open(const std::string& path, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kNewFileMode));
    if (!fd.valid()) {
        error = ErrnoText("open");
        return false;
    }
    handle_ = std::make_unique<Handle>();
    handle_->fd = std::move(fd);
    return true;
}

bool AppendOnlyFile::isOpen() const {
    return handle_ && handle_->fd.valid();
}

bool AppendOnlyFile::Append(std::string_view bytes, std::string& error) {
    if (!isOpen()) {
        error = "file not open";
        return false;
    }
    const int fd = handle_->fd.get();
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        error = ErrnoText("fstat");
        return false;
    }
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            error = ErrnoText("write");
            // Shrinking a file needs no room on the disk: this works when the disk is full.
            while (::ftruncate(fd, before.st_size) != 0) {
                if (errno == EINTR) continue;
                error += "; " + ErrnoText("cutting off the part written");
                break;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool AppendOnlyFile::FlushToDisk(std::string& error) {
    if (!isOpen()) {
        error = "file not open";
        return false;
    }
    while (::fdatasync(handle_->fd.get()) != 0) {
        if (errno == EINTR) continue;
        error = ErrnoText("fdatasync");
        return false;
    }
    return true;
}

void AppendOnlyFile::Close() {
    handle_.reset();
}

}  // namespace tillvane::platform
