#include "registers/text/receipt_backlog.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "base/text_split.h"
#include "registers/text/receipt_path.h"

namespace tillvane {

namespace {

bool IsReceiptName(const std::filesystem::path& path, const std::string& fixedName) {
    const std::string name = ToUpperAscii(path.filename().string());
    if (!fixedName.empty()) return name == ToUpperAscii(fixedName + std::string(kReceiptExtension));
    return name.starts_with(ToUpperAscii(kTimeStampedNamePrefix)) &&
           name.ends_with(ToUpperAscii(kReceiptExtension));
}

}  // namespace

ReceiptBacklog CountWaitingReceipts(const ReceiptFolderHealth& folder) {
    ReceiptBacklog backlog;
    std::error_code error;
    std::filesystem::directory_iterator it(folder.folder, error);
    std::size_t seen = 0;
    for (const std::filesystem::directory_iterator end; !error && it != end; it.increment(error)) {
        if (++seen > kMaxReceiptFolderEntriesScanned) {
            backlog.countCut = true;
            break;
        }
        std::error_code entryError;
        if (!it->is_regular_file(entryError) || !IsReceiptName(it->path(), folder.fixedName))
            continue;
        const auto written = it->last_write_time(entryError);
        // Taken by the printer's software between the listing and this look: not waiting.
        if (entryError) continue;
        ++backlog.waiting;
        const auto since = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(written));
        if (!backlog.oldestSince || since < *backlog.oldestSince) backlog.oldestSince = since;
    }
    if (error) backlog.listProblem = error.message();
    return backlog;
}

}  // namespace tillvane
