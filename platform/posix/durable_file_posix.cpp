#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/durable_file.h"
#include "platform/posix/unique_fd.h"

namespace tillvane::platform {

namespace {

constexpr mode_t kNewFileMode = 0644;

bool Failed(FileError& error) {
    const int code = errno;
    error.code = code;
    error.text = std::generic_category().message(code);
    error.nameTaken = code == EEXIST;
    error.nameMissing = code == ENOENT;
    return false;
}

// The file systems that cannot rename without replacing (older kernels, some network and
// FUSE file systems) say so with one of these; a hard link then does the same job.
bool NoReplaceUnsupported(int code) {
    return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP;
}

}  // namespace

struct NewFile::Handle {
    UniqueFd fd;
};

NewFile::NewFile() : handle_(std::make_unique<Handle>()) {}
NewFile::~NewFile() = default;
NewFile::NewFile(NewFile&& other) noexcept = default;
NewFile& NewFile::operator=(NewFile&& other) noexcept = default;

bool NewFile::Create(const std::string& path, FileError& error) {
    handle_->fd = UniqueFd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kNewFileMode));
    return handle_->fd.valid() || Failed(error);
}

bool NewFile::isOpen() const {
    return handle_ && handle_->fd.valid();
}

bool NewFile::Write(std::string_view bytes, FileError& error) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(handle_->fd.get(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return Failed(error);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool NewFile::FlushToDisk(FileError& error) {
    return ::fsync(handle_->fd.get()) == 0 || Failed(error);
}

bool NewFile::Close(FileError& error) {
    // close() may report a write that failed late (a network file system): not to be lost.
    // The descriptor is gone afterwards whatever it says, so it is not closed twice.
    const int fd = handle_->fd.Release();
    return fd < 0 || ::close(fd) == 0 || Failed(error);
}

bool MoveWithoutReplacing(const std::string& from, const std::string& to, FileError& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (!NoReplaceUnsupported(errno)) return Failed(error);
    // link() never replaces; the old name goes once the new one stands. The file stands
    // under its new name from the link on, so a failed unlink is no failure of the move (a
    // temporary name left behind is removed at the next start).
    if (::link(from.c_str(), to.c_str()) != 0) return Failed(error);
    ::unlink(from.c_str());
    return true;
}

bool MoveReplacing(const std::string& from, const std::string& to, FileError& error) {
    return ::rename(from.c_str(), to.c_str()) == 0 || Failed(error);
}

bool FlushFolder(const std::string& folder, FileError& error) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return Failed(error);
    return ::fsync(fd.get()) == 0 || Failed(error);
}

bool RemoveFile(const std::string& path, FileError& error) {
    return ::unlink(path.c_str()) == 0 || Failed(error);
}

}  // namespace tillvane::platform
