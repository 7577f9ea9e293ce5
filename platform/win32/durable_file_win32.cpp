// New files with CreateFileA (CREATE_NEW), flushed with FlushFileBuffers; moves with
// MoveFileExA, written through to the disk before the call returns.

#include <algorithm>
#include <limits>

#include "platform/durable_file.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/windows_error.h"

namespace tillvane::platform {

namespace {

// WriteFile takes at most a DWORD's worth of bytes per call.
constexpr std::size_t kMaxWriteChunk = std::numeric_limits<DWORD>::max();

// The result of a call that answers TRUE (or a valid handle) when it worked.
Error Checked(bool worked) {
    return worked ? Error() : LastSystemError();
}

}  // namespace

struct NewFile::Handle {
    ScopedHandle handle;
};

NewFile::NewFile() : handle_(std::make_unique<Handle>()) {}
NewFile::~NewFile() = default;
NewFile::NewFile(NewFile&& other) noexcept = default;
NewFile& NewFile::operator=(NewFile&& other) noexcept = default;

Error NewFile::Create(const std::string& path) {
    // Others may read it, never write it; CREATE_NEW fails when the name exists.
    handle_->handle = ScopedHandle(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                 /*lpSecurityAttributes=*/nullptr, CREATE_NEW,
                                                 FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    return Checked(handle_->handle.valid());
}

bool NewFile::isOpen() const {
    return handle_ && handle_->handle.valid();
}

Error NewFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxWriteChunk));
        DWORD written = 0;
        if (!::WriteFile(handle_->handle.get(), bytes.data(), chunk, &written,
                         /*lpOverlapped=*/nullptr)) {
            return LastSystemError();
        }
        bytes.remove_prefix(written);
    }
    return {};
}

Error NewFile::FlushToDisk() {
    return Checked(::FlushFileBuffers(handle_->handle.get()) != FALSE);
}

Error NewFile::Close() {
    if (!handle_->handle.valid()) return {};
    const HANDLE handle = handle_->handle.Release();
    return Checked(::CloseHandle(handle) != FALSE);
}

Error MoveWithoutReplacing(const std::string& from, const std::string& to) {
    return Checked(::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE);
}

Error MoveReplacing(const std::string& from, const std::string& to) {
    return Checked(::MoveFileExA(from.c_str(), to.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE);
}

Error FlushFolder(const std::string& /*folder*/) {
    // MOVEFILE_WRITE_THROUGH has put the new name on the disk before the move returned.
    return {};
}

Error RemoveFile(const std::string& path) {
    return Checked(::DeleteFileA(path.c_str()) != FALSE);
}

}  // namespace tillvane::platform
