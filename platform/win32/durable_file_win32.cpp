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

bool Failed(FileError& error) {
    const DWORD code = ::GetLastError();
    error.code = static_cast<int>(code);
    error.text = WindowsErrorText(code);
    error.nameTaken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    error.nameMissing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    return false;
}

}  // namespace

struct NewFile::Handle {
    ScopedHandle handle;
};

NewFile::NewFile() : handle_(std::make_unique<Handle>()) {}
NewFile::~NewFile() = default;
NewFile::NewFile(NewFile&& other) noexcept = default;
NewFile& NewFile::operator=(NewFile&& other) noexcept = default;

bool NewFile::Create(const std::string& path, FileError& error) {
    // Others may read it, never write it; CREATE_NEW fails when the name exists.
    handle_->handle = ScopedHandle(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                 /*lpSecurityAttributes=*/nullptr, CREATE_NEW,
                                                 FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    return handle_->handle.valid() || Failed(error);
}

bool NewFile::isOpen() const {
    return handle_ && handle_->handle.valid();
}

bool NewFile::Write(std::string_view bytes, FileError& error) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxWriteChunk));
        DWORD written = 0;
        if (!::WriteFile(handle_->handle.get(), bytes.data(), chunk, &written,
                         /*lpOverlapped=*/nullptr)) {
            return Failed(error);
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool NewFile::FlushToDisk(FileError& error) {
    return ::FlushFileBuffers(handle_->handle.get()) || Failed(error);
}

bool NewFile::Close(FileError& error) {
    if (!handle_->handle.valid()) return true;
    const HANDLE handle = handle_->handle.Release();
    return ::CloseHandle(handle) || Failed(error);
}

bool MoveWithoutReplacing(const std::string& from, const std::string& to, FileError& error) {
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) || Failed(error);
}

bool MoveReplacing(const std::string& from, const std::string& to, FileError& error) {
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           Failed(error);
}

bool FlushFolder(const std::string& /*folder*/, FileError& /*error*/) {
    // MOVEFILE_WRITE_THROUGH has put the new name on the disk before the move returned.
    return true;
}

bool RemoveFile(const std::string& path, FileError& error) {
    return ::DeleteFileA(path.c_str()) || Failed(error);
}

}  // namespace tillvane::platform
