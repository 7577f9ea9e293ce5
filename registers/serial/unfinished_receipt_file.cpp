#include "registers/serial/unfinished_receipt_file.h"

#include <fstream>

#include "base/utc_time.h"
#include "platform/durable_file.h"

namespace tillvane {

namespace {
constexpr std::string_view kExtension = ".receipt";
constexpr std::string_view kTemporarySuffix = ".new";
}  // namespace

void UnfinishedReceiptFile::SetPlace(const std::string& registerLogPath) {
    if (registerLogPath.empty()) {
        path_.clear();
        return;
    }
    const std::size_t slash = registerLogPath.find_last_of("/\\");
    const std::size_t dot = registerLogPath.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    path_ = registerLogPath.substr(0, hasExtension ? dot : registerLogPath.size()) +
            std::string(kExtension);
}

std::optional<UnfinishedReceipt> UnfinishedReceiptFile::Load() const {
    if (path_.empty()) return std::nullopt;
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    const std::size_t blank = line.find(' ');
    const auto millis = ParseUtcMillis(line.substr(0, blank));
    if (!millis) return std::nullopt;
    UnfinishedReceipt receipt;
    receipt.since = std::chrono::system_clock::time_point(std::chrono::milliseconds(*millis));
    if (blank != std::string::npos) receipt.reason = line.substr(blank + 1);
    return receipt;
}

platform::Error UnfinishedReceiptFile::Save(const UnfinishedReceipt& receipt) const {
    if (path_.empty()) return {};
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(receipt.since.time_since_epoch())
            .count();
    std::string reason = receipt.reason;
    for (char& c : reason) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    const std::string temporary = path_ + std::string(kTemporarySuffix);
    // A leftover of a crash in the middle of a save; its absence is the usual case.
    static_cast<void>(platform::RemoveFile(temporary));
    platform::NewFile file;
    platform::Error error = file.Create(temporary);
    if (error.ok()) error = file.Write(FormatUtcMillis(millis) + " " + reason + "\n");
    if (error.ok()) error = file.FlushToDisk();
    if (error.ok()) error = file.Close();
    if (error.ok()) error = platform::MoveReplacing(temporary, path_);
    return error.Within("unfinished receipt record " + path_);
}

void UnfinishedReceiptFile::Clear() const {
    // Nothing to remove is the usual case; a file that stays would only be read at the next start
    // and shown for what it is.
    if (!path_.empty()) static_cast<void>(platform::RemoveFile(path_));
}

}  // namespace tillvane
