#include "status/receipt_backlog.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/text_split.h"

namespace tillvane {

namespace {

constexpr std::string_view kReceiptExtension = ".txt";

bool IsReceiptName(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    if (name.size() <= kReceiptExtension.size()) return false;
    return ToUpperAscii(std::string_view(name).substr(name.size() - kReceiptExtension.size())) ==
           ToUpperAscii(kReceiptExtension);
}

}  // namespace

ReceiptBacklog CountWaitingReceipts(const std::string& folder) {
    ReceiptBacklog backlog;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    std::size_t seen = 0;
    for (const std::filesystem::directory_iterator end; !error && it != end; it.increment(error)) {
        if (++seen > kMaxReceiptFolderEntriesScanned) {
            backlog.countCut = true;
            break;
        }
        std::error_code entryError;
        if (!it->is_regular_file(entryError) || !IsReceiptName(it->path())) continue;
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
