#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/durable_file.h"
#include "platform/posix/unique_fd.h"

namespace tillvane::platform {

namespace {

constexpr mode_t kNewFileMode = 0644;

// The result of a call that answers 0 (or a valid descriptor) when it worked.
Error Checked(bool worked) {
    return worked ? Error() : LastSystemError();
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

Error NewFile::Create(const std::string& path) {
    handle_->fd = UniqueFd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kNewFileMode));
    return Checked(handle_->fd.valid());
}

bool NewFile::isOpen() const {
    return handle_ && handle_->fd.valid();
}

Error NewFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(handle_->fd.get(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return LastSystemError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

Error NewFile::FlushToDisk() {
    return Checked(::fsync(handle_->fd.get()) == 0);
}

Error NewFile::Close() {
    // close() may report a write that failed late (a network file system): not to be lost.
    // The descriptor is gone afterwards whatever it says, so it is not closed twice.
    const int fd = handle_->fd.Release();
    return Checked(fd < 0 || ::close(fd) == 0);
}

Error MoveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (!NoReplaceUnsupported(errno)) return LastSystemError();
    // link() never replaces; the old name goes once the new one stands. The file stands
    // under its new name from the link on, so a failed unlink is no failure of the move (a
    // temporary name left behind is removed at the next start).
    if (::link(from.c_str(), to.c_str()) != 0) return LastSystemError();
    ::unlink(from.c_str());
    return {};
}

Error MoveReplacing(const std::string& from, const std::string& to) {
    return Checked(::rename(from.c_str(), to.c_str()) == 0);
}

Error FlushFolder(const std::string& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return LastSystemError();
    return Checked(::fsync(fd.get()) == 0);
}

Error RemoveFile(const std::string& path) {
    return Checked(::unlink(path.c_str()) == 0);
}

}  // namespace tillvane::platform
