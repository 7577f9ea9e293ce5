#include <algorithm>

#include "platform/append_only_file.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/windows_api.h"
#include "platform/win32/windows_error.h"

namespace tillvane::platform {

namespace {
// WriteFile takes at most a DWORD's worth of bytes per call.
constexpr std::size_t kMaxWriteChunk = 1u << 30;
}  // namespace

struct AppendOnlyFile::Handle {
    ScopedHandle file;
};

AppendOnlyFile::AppendOnlyFile() = default;
AppendOnlyFile::~AppendOnlyFile() = default;
AppendOnlyFile::AppendOnlyFile(AppendOnlyFile&&) noexcept = default;
AppendOnlyFile& AppendOnlyFile::operator=(AppendOnlyFile&&) noexcept = default;

Error AppendOnlyFile::Open(const std::string& path) {
    // GENERIC_WRITE, as FlushFileBuffers needs; this handle is the file's only writer, so
    // placing it at the end once makes every write an append. Readers, and a rename of the
    // file while it is open, are allowed.
    ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    /*lpSecurityAttributes=*/nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    if (!file.valid()) return LastSystemError().Within("CreateFile");
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(file.get(), /*liDistanceToMove=*/end, /*lpNewFilePointer=*/nullptr,
                            FILE_END)) {
        return LastSystemError().Within("SetFilePointerEx");
    }
    handle_ = std::make_unique<Handle>();
    handle_->file = std::move(file);
    return {};
}

bool AppendOnlyFile::isOpen() const {
    return handle_ && handle_->file.valid();
}

Error AppendOnlyFile::Append(std::string_view bytes) {
    if (!isOpen()) return Error::Message("file not open");
    const HANDLE file = handle_->file.get();
    // The handle writes where its pointer stands: the end, as Open placed it.
    LARGE_INTEGER before{};
    if (!::SetFilePointerEx(file, /*liDistanceToMove=*/LARGE_INTEGER{}, &before, FILE_CURRENT)) {
        return LastSystemError().Within("SetFilePointerEx");
    }
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxWriteChunk));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, /*lpOverlapped=*/nullptr)) {
            const Error failed = LastSystemError().Within("WriteFile");
            // Shrinking a file needs no room on the disk: this works when the disk is full.
            if (!::SetFilePointerEx(file, before, /*lpNewFilePointer=*/nullptr, FILE_BEGIN) ||
                !::SetEndOfFile(file)) {
                const Error cut = LastSystemError().Within("cutting off the part written");
                return Error(failed.code(), failed.text() + "; " + cut.text());
            }
            return failed;
        }
        bytes.remove_prefix(written);
    }
    return {};
}

Error AppendOnlyFile::FlushToDisk() {
    if (!isOpen()) return Error::Message("file not open");
    if (!::FlushFileBuffers(handle_->file.get())) {
        return LastSystemError().Within("FlushFileBuffers");
    }
    return {};
}

void AppendOnlyFile::Close() {
    handle_.reset();
}

}  // namespace tillvane::platform
