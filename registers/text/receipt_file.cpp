#include "registers/text/receipt_file.h"

#include "registers/text/receipt_path.h"

namespace tillvane {

platform::Error ReceiptFile::Create(const std::string& temporaryPath) {
    std::unique_ptr<platform::WritableFile> file;
    platform::Error error = files_.CreateNewFile(temporaryPath, file);
    if (!error.ok()) return error;
    file_ = std::move(file);
    temporaryPath_ = temporaryPath;
    return {};
}

platform::Error ReceiptFile::Publish(std::string_view text, const std::string& folder,
                                     const std::string& name, bool fixedName,
                                     std::string& receiptPath) {
    if (!file_) return platform::Error::Message("file not open");
    platform::Error error = file_->Write(text);
    if (error.ok()) error = file_->FlushToDisk();
    if (error.ok()) error = file_->Close();
    if (!error.ok()) return error;
    file_.reset();
    error = MoveToReceiptName(folder, name, fixedName, receiptPath);
    if (!error.ok()) return error;
    temporaryPath_.clear();
    error = files_.FlushFolder(ReceiptFolder(folder));
    if (!error.ok()) {
        // The receipt stands under its name but its name may not survive a power cut. "OK|"
        // would promise more than is true, and an error answer with the file left in place
        // would have a till that sends it again print it twice: it is taken back.
        (void)files_.RemoveFile(receiptPath);
    }
    return error;
}

platform::Error ReceiptFile::MoveToReceiptName(const std::string& folder, const std::string& name,
                                               bool fixedName, std::string& receiptPath) {
    if (fixedName) {
        // A fixed name: every receipt and report replaces the same file, in one step.
        receiptPath = ReceiptPath(folder, name);
        return files_.MoveReplacing(temporaryPath_, receiptPath);
    }
    // The final name is taken here, when the receipt closes, not at BS: a name held from BS
    // on would be a file the printer sees (empty) and one a crash leaves behind. The move
    // fails when the name exists, whoever made it (a receipt of the same millisecond,
    // another program), so no two receipts ever share a name; the receipt then takes the
    // next free suffix of its time stamp.
    platform::Error error;
    for (int suffix = 0; suffix <= kMaxReceiptNameSuffix; ++suffix) {
        receiptPath = ReceiptPath(folder, SuffixedReceiptName(name, suffix));
        if (receiptPath.size() > kMaxReceiptPathLength) {
            return platform::Error::Message("path longer than " +
                                            std::to_string(kMaxReceiptPathLength) + " characters");
        }
        error = files_.MoveWithoutReplacing(temporaryPath_, receiptPath);
        if (!error.nameTaken()) return error;
    }
    return error;
}

platform::Error ReceiptFile::Discard() {
    if (file_) (void)file_->Close();
    file_.reset();
    if (temporaryPath_.empty()) return {};
    platform::Error error = files_.RemoveFile(temporaryPath_);
    temporaryPath_.clear();
    if (error.nameMissing()) return {};
    return error;
}

}  // namespace tillvane
