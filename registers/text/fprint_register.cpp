#include "registers/text/fprint_register.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/numbers.h"
#include "base/text_split.h"
#include "config/ini_loader.h"
#include "registers/field_text.h"

namespace tillvane {

namespace {

constexpr std::string_view kFixedFields = ",1,______,_,__;";
constexpr char kFieldEnd = ';';
constexpr char kLineEnd = '\n';
constexpr const char* kTimeStampFormat = "BON_%Y%m%d_%H%M%S";

constexpr int kAmountDecimals = 2;
constexpr int kQuantityDecimals = 3;
constexpr double kHundredthsPerUnit = 100.0;

std::string MillisecondsText(int milliseconds) {
    std::string text = std::to_string(milliseconds);
    while (text.size() < 3) text.insert(text.begin(), '0');
    return text;
}

constexpr std::string_view kReceiptFullReason = "Receipt text full";

}  // namespace

FPrintRegister::FPrintRegister(platform::FileSystem& files) : files_(files), receiptFile_(files) {
    receiptText_.reserve(kMaxReceiptTextLength);
}

FPrintRegister::~FPrintRegister() {
    AbandonReceipt("the driver is released");
}

std::string FPrintRegister::RecordPrefix(char letter) {
    std::string line(1, letter);
    line += kFixedFields;
    return line;
}

std::string FPrintRegister::DatalessLine(char letter) {
    return RecordPrefix(letter) + kLineEnd;
}

bool FPrintRegister::LoadDriverSettings(const INILoader& configuration) {
    std::string folder;
    if (configuration.GetValue(folder, kOutputFolderKey)) folder = NormaliseOutputFolder(folder);
    std::string fileName;
    if (configuration.GetValue(fileName, kOutputFileNameKey)) TrimTrailingBlanks(fileName);

    // A cut path would name another place, so an over-long one leaves the driver unconfigured.
    if (folder.size() > kMaxReceiptPathLength) {
        WriteLog("outputFolder longer than " + std::to_string(kMaxReceiptPathLength) +
                 " characters refused: " + folder);
        return false;
    }
    if (fileName.size() > kMaxOutputFileNameLength) {
        WriteLog("outputFileName longer than " + std::to_string(kMaxOutputFileNameLength) +
                 " characters refused: " + fileName);
        return false;
    }
    outputFolder_ = std::move(folder);
    outputFileName_ = std::move(fileName);
    RemoveLeftoverTemporaryFiles();
    state = ReceiptState::ready;
    return true;
}

std::string FPrintRegister::NewReceiptName() const {
    if (!outputFileName_.empty()) return outputFileName_;
    const platform::LocalTime now = CurrentTime();
    return platform::FormatLocalTime(now, kTimeStampFormat) + "_" +
           MillisecondsText(now.milliseconds);
}

platform::Error FPrintRegister::CreateTemporaryFile() {
    receiptName_ = NewReceiptName();
    receiptPath_ = ReceiptPath(outputFolder_, receiptName_);
    // Another service writing into the same folder may hold this temporary name: the next
    // suffix is as good, since the temporary name never reaches the printer.
    for (int suffix = 0;; ++suffix) {
        const std::string path =
            TemporaryReceiptPath(outputFolder_, SuffixedReceiptName(receiptName_, suffix));
        if (path.size() > kMaxReceiptPathLength) {
            return platform::Error::Message("Receipt path longer than " +
                                            std::to_string(kMaxReceiptPathLength) +
                                            " characters refused: " + path);
        }
        const platform::Error error = receiptFile_.Create(path);
        if (error.ok() || !error.nameTaken() || suffix == kMaxReceiptNameSuffix) {
            return error.Within("Error creating file " + path);
        }
    }
}

bool FPrintRegister::BeginSell() {
    if (state != ReceiptState::ready && state != ReceiptState::afterSell) {
        WriteLog("BeginSell: Status not ready or afterSell");
        return false;
    }
    receiptText_.clear();
    receiptFull_ = false;
    if (const platform::Error created = CreateTemporaryFile(); !created.ok()) {
        return RefuseUnwritableFolder("BeginSell", created);
    }
    state = ReceiptState::selling;
    soldTotal = 0.0;
    paidTotal = 0.0;
    return true;
}

bool FPrintRegister::CloseReceipt(std::string* message) {
    if (state != ReceiptState::selling) return false;
    if (receiptFull_) {
        // Printing the lines that did fit would give a receipt without them (a payment, say).
        if (message != nullptr) *message = kReceiptFullReason;
        AbandonReceipt(kReceiptFullReason);
        return false;
    }
    // Refused totals abandon the receipt: no file stays behind.
    if (const platform::Error refused = CheckTotalsForClose(); !refused.ok()) {
        if (message != nullptr) *message = refused.text();
        return false;
    }
    // The whole receipt goes out in one write and reaches the disk before it gets the name
    // the printer watches for.
    const platform::Error error = receiptFile_.Publish(receiptText_, outputFolder_, receiptName_,
                                                       !outputFileName_.empty(), receiptPath_);
    if (!error.ok()) {
        // The receipt did not reach the disk whole under its name: say so rather than report
        // a sale that will never print; the abandon takes the temporary file away.
        const std::string reason = "Error writing file " + receiptPath_ + ": " + error.text();
        if (message != nullptr) *message = reason;
        AbandonReceipt(reason);
        folderProblem_ = reason;
        health.RecordDriverError(error.code(), "CloseReceipt", reason);
        return false;
    }
    folderProblem_.clear();
    receiptText_.clear();
    state = ReceiptState::afterSell;
    return true;
}

void FPrintRegister::AbandonReceipt(std::string_view why) {
    if (state != ReceiptState::selling) return;
    receiptText_.clear();
    receiptFull_ = false;
    RemoveTemporaryFile();
    VirtualRegister::AbandonReceipt(why);
}

bool FPrintRegister::RefuseUnwritableFolder(std::string_view operation,
                                            const platform::Error& why) {
    WriteLog(why.text());
    failureReason = why.text();
    folderProblem_ = why.text();
    health.RecordDriverError(why.code(), std::string(operation), why.text());
    return false;
}

std::optional<ReceiptFolderHealth> FPrintRegister::ReceiptOutput() const {
    // Before its settings load the driver has no folder of its own to look at.
    if (state == ReceiptState::unconfigured) return std::nullopt;
    return ReceiptFolderHealth{ReceiptFolder(outputFolder_), folderProblem_, outputFileName_};
}

void FPrintRegister::RemoveTemporaryFile() {
    const std::string path = receiptFile_.temporaryPath();
    const platform::Error error = receiptFile_.Discard();
    if (!error.ok()) WriteLog("Error removing file " + path + ": " + error.text());
}

void FPrintRegister::RemoveLeftoverTemporaryFiles() {
    std::vector<std::string> leftovers;
    std::error_code listError;
    // A folder that cannot be listed (missing, say) is reported at the first BS.
    for (std::filesystem::directory_iterator it(ReceiptFolder(outputFolder_), listError), end;
         !listError && it != end; it.increment(listError)) {
        if (IsTemporaryReceiptName(it->path().filename().string())) {
            leftovers.push_back(it->path().string());
        }
    }
    std::sort(leftovers.begin(), leftovers.end());
    for (const std::string& path : leftovers) {
        const platform::Error error = files_.RemoveFile(path);
        if (error.ok()) {
            WriteLog("Removed leftover temporary file " + path +
                     ": a receipt cut short before it was answered");
        } else {
            WriteLog("Error removing leftover temporary file " + path + ": " + error.text());
        }
    }
}

bool FPrintRegister::ResetAfterSell() {
    if (state != ReceiptState::afterSell) return false;
    state = ReceiptState::ready;
    return true;
}

bool FPrintRegister::AppendLine(std::string_view line) {
    if (state != ReceiptState::selling) {
        failureReason = kNoReceiptOpenReason;
        return false;
    }
    if (line.size() > kMaxReceiptTextLength - receiptText_.size()) {
        WriteLog("Receipt text full: line refused");
        receiptFull_ = true;
        failureReason = kReceiptFullReason;
        return false;
    }
    receiptText_ += line;
    return true;
}

// H and F switch each other off too: either letter silences both.
bool FPrintRegister::CommandH() {
    if (IsCommandDisabled('H') || IsCommandDisabled('F')) return true;
    return AppendLine(DatalessLine('H'));
}

bool FPrintRegister::CommandF() {
    if (IsCommandDisabled('H') || IsCommandDisabled('F')) return true;
    return AppendLine(DatalessLine('F'));
}

bool FPrintRegister::CommandN() {
    if (IsCommandDisabled('N')) return true;
    return AppendLine(DatalessLine('N'));
}

bool FPrintRegister::PrintText(std::string_view piece1, std::string_view piece2,
                               std::string_view piece3, std::string_view piece4,
                               std::string_view piece5) {
    if (IsCommandDisabled('P')) return true;
    std::string line = RecordPrefix('P');
    for (const std::string_view piece : {piece1, piece2, piece3, piece4, piece5}) {
        line += PrintTextPiece(piece);
        line += kFieldEnd;
    }
    line += kLineEnd;
    return AppendLine(line);
}

bool FPrintRegister::Payment(int paymentType, double amount) {
    if (IsCommandDisabled('T')) return SkipDisabledPayment(amount);
    const std::string line = RecordPrefix('T') + std::to_string(paymentType) + kFieldEnd +
                             FormatFixed(amount, kAmountDecimals) + ";;;;\n";
    if (!AppendLine(line)) return false;
    paidTotal += amount;
    return true;
}

bool FPrintRegister::Discount(float percent) {
    if (IsCommandDisabled('C')) {
        return Refuse("ERROR: C command disabled (unsupported discounts)");
    }
    const double widened = static_cast<double>(percent);
    const std::string line = RecordPrefix('C') + (percent >= 0.0f ? "1" : "0") + kFieldEnd +
                             FormatFixed(std::fabs(widened), kAmountDecimals) + ";;;;\n";
    if (!AppendLine(line)) return false;
    // The fraction is taken in single precision, then widened.
    const double fraction = static_cast<double>(percent / 100.0f);
    soldTotal -= fraction * soldTotal;
    return true;
}

bool FPrintRegister::CashInOut(double amount) {
    if (IsCommandDisabled('I')) {
        return Refuse("ERROR: I command disabled (unsupported in/out cash)");
    }
    const std::string line = RecordPrefix('I') + (amount >= 0.0 ? "1" : "0") + kFieldEnd +
                             FormatFixed(std::fabs(amount), kAmountDecimals) + ";;;;\n";
    return AppendLine(line);
}

bool FPrintRegister::SellItem(std::string& name, double price, double quantity,
                              std::string_view vatGroup, char itemGroup, int number) {
    const VatGroup* group = FindVatGroup(vatGroup);
    if (group == nullptr) {
        WriteLog("VAT NOT FOUND");
        return false;
    }
    if (state != ReceiptState::selling) return false;

    const std::string priceText = allowPriceDecimals != 0
                                      ? FormatFixed(price, kAmountDecimals)
                                      : FormatFixed(price * kHundredthsPerUnit, 0);
    // Unsigned on purpose: a setting of 0 empties the name, a negative one never cuts it.
    const auto maxNameLength = static_cast<unsigned int>(maxItemNameSize);
    if (name.size() > maxNameLength) name.resize(maxNameLength);

    std::string line = RecordPrefix('S');
    // A ";" in a name or an item group would shift every field after it (a price of the
    // caller's choosing), a line end would start a command line of the caller's own, and a
    // control byte such as 0x1A ends the file for some readers: each becomes a blank.
    name = WithoutFieldEnds(name);
    line += name;
    line += kFieldEnd;
    line += priceText;
    line += kFieldEnd;
    line += FormatFixed(quantity, kQuantityDecimals);
    line += kFieldEnd;
    line += std::to_string(number);
    line += kFieldEnd;
    line += WithoutFieldEnds(std::string_view(&itemGroup, 1));
    line += kFieldEnd;
    line += group->code;
    line += ";0;0;\n";
    if (!AppendLine(line)) return false;
    soldTotal += price * quantity;
    return true;
}

bool FPrintRegister::OneLineReport(char letter, std::string_view disabledMessage) {
    if (IsCommandDisabled(letter)) return Refuse(disabledMessage);
    if (!BeginSell()) return false;
    receiptText_ += DatalessLine(letter);
    std::string message;
    if (CloseReceipt(&message)) return true;
    failureReason = message;
    return false;
}

bool FPrintRegister::ReceiptDuplicate() {
    return OneLineReport('D', "ERROR: D command disabled (unsupported ReceiptDuplicate)");
}

bool FPrintRegister::DailyReportsZ() {
    return OneLineReport('Z', "ERROR: Z command disabled (unsupported ZReport)");
}

bool FPrintRegister::DailyReportsX() {
    // The X report's message names the Z report; it is kept word for word.
    return OneLineReport('X', "ERROR: X command disabled (unsupported ZReport)");
}

}  // namespace tillvane
