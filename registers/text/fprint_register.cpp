#include "registers/text/fprint_register.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "config/ini_loader.h"
#include "config/numbers.h"
#include "config/text_split.h"

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

// A CR or LF inside a field would end the command line early and let the caller's text
// become command lines of its own, so each becomes a blank.
std::string OnOneLine(std::string_view text) {
    std::string result(text);
    std::replace_if(
        result.begin(), result.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return result;
}

// A ";" ends a field of the printer's command line: inside a name or an item group it would
// shift every field after it (a price of the caller's choosing), so it becomes a blank.
std::string OneField(std::string_view text) {
    std::string result = OnOneLine(text);
    std::replace(result.begin(), result.end(), kFieldEnd, ' ');
    return result;
}

// One piece of a printed text line: at most 15 characters, and no ";" that would end the
// field early.
std::string PrintTextPiece(std::string_view piece) {
    return OneField(piece.substr(0, kMaxPrintTextPieceLength));
}

constexpr std::string_view kReceiptFullReason = "Receipt text full";
constexpr std::string_view kNoReceiptOpenReason = "no receipt open";

// The system's own words for the error in errno.
std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

}  // namespace

FPrintRegister::FPrintRegister() {
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
    if (configuration.GetValue(folder, "outputFolder")) folder = NormaliseOutputFolder(folder);
    std::string fileName;
    if (configuration.GetValue(fileName, "outputFileName")) TrimTrailingBlanks(fileName);

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
    state = ReceiptState::ready;
    return true;
}

FileHandle FPrintRegister::CreateTimeStampedFile(std::string& path) {
    const platform::LocalTime now = CurrentTime();
    const std::string baseName =
        platform::FormatLocalTime(now, kTimeStampFormat) + "_" + MillisecondsText(now.milliseconds);
    // Two receipts begun within one millisecond must not share a file: the second takes the
    // next free name with the same time stamp.
    for (int suffix = 0; suffix <= kMaxReceiptNameSuffix; ++suffix) {
        const std::string name = suffix == 0 ? baseName : baseName + "_" + std::to_string(suffix);
        path = ReceiptPath(outputFolder_, name);
        if (path.size() > kMaxReceiptPathLength) return nullptr;
        errno = 0;
        FileHandle file = CreateFileForWriting(path, true);
        if (file || errno != EEXIST) return file;
    }
    return nullptr;
}

bool FPrintRegister::CreateReceiptFile() {
    std::string path;
    FileHandle file;
    if (!outputFileName_.empty()) {
        // A fixed name: every receipt and report replaces the same file.
        path = ReceiptPath(outputFolder_, outputFileName_);
        if (path.size() <= kMaxReceiptPathLength) file = CreateFileForWriting(path, false);
    } else {
        file = CreateTimeStampedFile(path);
    }
    if (path.size() > kMaxReceiptPathLength) {
        WriteLog("Receipt path longer than " + std::to_string(kMaxReceiptPathLength) +
                 " characters refused: " + path);
        return false;
    }
    if (!file) {
        WriteLog("Error creating file " + path);
        return false;
    }
    // Unbuffered, so the one fwrite at the close is one write to the system, not a block
    // now and the tail at fclose.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    receiptFile_ = std::move(file);
    receiptPath_ = std::move(path);
    return true;
}

bool FPrintRegister::BeginSell() {
    if (state != ReceiptState::ready && state != ReceiptState::afterSell) {
        WriteLog("BeginSell: Status not ready or afterSell");
        return false;
    }
    receiptText_.clear();
    receiptFull_ = false;
    if (!CreateReceiptFile()) return false;
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
    if (!TotalsAllowClose(message)) return false;  // abandoned: no file stays behind
    std::string error;
    if (!WriteReceiptFile(error)) {
        // The receipt did not reach the disk whole: say so rather than report a sale that
        // will never print, and take the partial file away before the printer reads it.
        const std::string reason = "Error writing file " + receiptPath_ + ": " + error;
        if (message != nullptr) *message = reason;
        AbandonReceipt(reason);
        return false;
    }
    receiptText_.clear();
    state = ReceiptState::afterSell;
    return true;
}

bool FPrintRegister::WriteReceiptFile(std::string& error) {
    // The whole receipt reaches the disk in one write, so the printer never sees half of it.
    errno = 0;
    const std::size_t written =
        std::fwrite(receiptText_.data(), 1, receiptText_.size(), receiptFile_.get());
    int writeError = written == receiptText_.size() ? 0 : errno;
    errno = 0;
    const bool closed = std::fclose(receiptFile_.release()) == 0;
    if (writeError == 0 && !closed) writeError = errno;
    if (written == receiptText_.size() && closed) return true;
    error = SystemReason(writeError != 0 ? writeError : EIO);
    return false;
}

void FPrintRegister::AbandonReceipt(std::string_view why) {
    if (state != ReceiptState::selling) return;
    receiptText_.clear();
    receiptFull_ = false;
    RemoveReceiptFile();
    VirtualRegister::AbandonReceipt(why);
}

void FPrintRegister::RemoveReceiptFile() {
    receiptFile_.reset();
    std::error_code error;
    if (!std::filesystem::remove(receiptPath_, error) && error) {
        WriteLog("Error removing file " + receiptPath_ + ": " + error.message());
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
    if (IsCommandDisabled('T')) {
        WriteLog("ERROR: T command disabled (unsupported payment modes)");
        return false;
    }
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
    name = OneField(name);
    line += name;
    line += kFieldEnd;
    line += priceText;
    line += kFieldEnd;
    line += FormatFixed(quantity, kQuantityDecimals);
    line += kFieldEnd;
    line += std::to_string(number);
    line += kFieldEnd;
    line += OneField(std::string_view(&itemGroup, 1));
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
