#include "commands/command_interpreter.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/numbers.h"
#include "base/text_split.h"
#include "registers/virtual_register.h"

// A request that fails abandons the receipt it opened, so the next receipt starts clean; a BS
// that finds a receipt left open by an earlier request (a till that stopped mid-sale) abandons
// that one first. A receipt a till spreads over several requests on purpose stays open
// between them as long as each succeeds.
//
// Without a driver no request may reach one. BS, LK, UK, RR, PT and AP still read and check
// their fields (a bad payment type still fails) and call nothing; RO does nothing. Lines whose
// result matters fail instead of pretending: SI, DC, IO and DR with the "check log" message (the
// register log already says that no driver model is implemented), ES with the reply left as it
// is, and ZR and XR end the text with false, since no report was printed.

namespace tillvane {
namespace {

inline constexpr char kLineSeparator = '|';
inline constexpr char kFieldSeparator = '^';

// Longest texts of a line and of each field, in characters. A longer line or argument fails
// the request: read on, it would put other text in the fields that follow it.
inline constexpr std::size_t kMaxLineLength = 10000;
inline constexpr std::size_t kMaxCommandCodeLength = 1024;
inline constexpr std::size_t kMaxPrintTextLength = 1024;
inline constexpr std::size_t kMaxItemNameLength = 200;
inline constexpr std::size_t kMaxPriceLength = 20;
inline constexpr std::size_t kMaxQuantityLength = 20;
inline constexpr std::size_t kMaxVatGroupLength = 20;
inline constexpr std::size_t kMaxItemGroupLength = 20;
inline constexpr std::size_t kMaxNamePrefixLength = 10;
inline constexpr std::size_t kMaxPaymentTypeLength = 5;
inline constexpr std::size_t kMaxAmountLength = 30;
inline constexpr std::size_t kMaxPercentLength = 20;
// How much of an over-long line its error message quotes.
inline constexpr std::size_t kQuotedLongLineLength = 100;

// A printed text line reaches the driver as four pieces of 15 characters; the rest is dropped.
inline constexpr std::size_t kPrintPieceLength = 15;

// A hex-encoded item name: two digits per byte, at most 100 bytes, a 0 byte ends it.
inline constexpr std::size_t kHexDigitsPerByte = 2;
inline constexpr std::size_t kMaxDecodedNameLength = 100;
inline constexpr unsigned long kByteMask = 0xFF;

inline constexpr char kNamePrefixSeparator = '^';
inline constexpr char kDefaultItemGroup = '1';
inline constexpr int kSellItemNumber = 1;
inline constexpr int kMinPaymentType = 0;
inline constexpr int kMaxPaymentType = 4;
// A discount takes at most the whole total off; a negative one (a surcharge) at most doubles it.
inline constexpr double kMaxDiscountPercent = 100.0;

inline constexpr std::size_t kMaxReplyLength = kReplyTextCapacity - 1;

// "EROARE PROTOCOL WEB LA LINIA [%s]" and the variants that add a detail after the quoted line.
inline constexpr std::string_view kErrorHead = "EROARE PROTOCOL WEB LA LINIA [";
inline constexpr std::string_view kQuoteEnd = "]";
inline constexpr std::string_view kCheckLogDetail = ", check log";
inline constexpr std::string_view kItemGroupDetail = ", invalid ItemGroup [";
inline constexpr std::string_view kPaymentTypeDetail = ", invalid paymentType [";
inline constexpr std::string_view kPriceDetail = ", invalid price [";
inline constexpr std::string_view kQuantityDetail = ", invalid quantity [";
inline constexpr std::string_view kAmountDetail = ", invalid amount [";
inline constexpr std::string_view kPercentDetail = ", invalid percent [";
inline constexpr std::string_view kFieldTooLongDetail = ", field too long";
inline constexpr std::string_view kLineTooLongDetail = ", line too long";
inline constexpr std::string_view kNoReceiptDetail = ", no receipt open";
inline constexpr std::string_view kLongLineCut = "\u2026";  // the quoted line goes on
inline constexpr std::string_view kDetailSeparator = ", ";
// Why a receipt is abandoned when no message tells more.
inline constexpr std::string_view kRequestFailedReason = "the request that opened it failed";
inline constexpr std::string_view kLeftOpenReason = "left open by an earlier request";

static_assert(kErrorHead.size() + kQuoteEnd.size() + kPaymentTypeDetail.size() + kQuoteEnd.size() <
                  kMaxReplyLength,
              "every message frame must leave room in the reply");

enum class Command {
    kBeginSell,
    kCommandH,
    kCommandF,
    kCommandN,
    kPrintText,
    kSellItem,
    kPayment,
    kCloseReceipt,
    kResetAfterSell,
    kReportZ,
    kReportX,
    kDiscount,
    kCashInOut,
    kReceiptDuplicate,
    kNone,
};

struct CommandCode {
    std::string_view code;
    Command command;
};

// Compared in this order; a code matches only when the whole field equals it (case and
// trailing blanks count).
inline constexpr std::array<CommandCode, 14> kCommandCodes{{
    {"BS", Command::kBeginSell},
    {"LK", Command::kCommandH},
    {"UK", Command::kCommandF},
    {"RR", Command::kCommandN},
    {"PT", Command::kPrintText},
    {"SI", Command::kSellItem},
    {"AP", Command::kPayment},
    {"ES", Command::kCloseReceipt},
    {"RO", Command::kResetAfterSell},
    {"ZR", Command::kReportZ},
    {"XR", Command::kReportX},
    {"DC", Command::kDiscount},
    {"IO", Command::kCashInOut},
    {"DR", Command::kReceiptDuplicate},
}};

Command FindCommand(std::string_view code) {
    for (const CommandCode& entry : kCommandCodes) {
        if (entry.code == code) {
            return entry.command;
        }
    }
    return Command::kNone;
}

// White space as the C locale's isspace knows it, whatever locale the process runs in.
bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one group of a hex-encoded name the way strtol(group, nullptr, 16) reads it in the C
// locale: leading white space, an optional sign, then hex digits up to the first other
// character; no digit gives 0. (A "0x" prefix cannot carry digits within two characters, so it
// reads as 0 either way.)
long ReadHexGroup(std::string_view group) {
    std::size_t at = 0;
    while (at < group.size() && IsCSpace(group[at])) {
        ++at;
    }
    bool negative = false;
    if (at < group.size() && (group[at] == '+' || group[at] == '-')) {
        negative = group[at] == '-';
        ++at;
    }
    unsigned long magnitude = 0;
    std::from_chars(group.data() + at, group.data() + group.size(), magnitude, 16);
    const long value = static_cast<long>(magnitude);
    return negative ? -value : value;
}

// Decodes a hex-encoded name: each group of two characters (an odd last one alone) gives the
// low 8 bits of its value as one byte; a 0 byte ends the name.
void DecodeHexName(std::string_view hex, std::string& name) {
    name.clear();
    for (std::size_t at = 0; at < hex.size() && name.size() < kMaxDecodedNameLength;
         at += kHexDigitsPerByte) {
        const unsigned long byte =
            static_cast<unsigned long>(ReadHexGroup(hex.substr(at, kHexDigitsPerByte))) & kByteMask;
        if (byte == 0) {
            break;
        }
        name.push_back(static_cast<char>(byte));
    }
}

// The text proper: everything before its first NUL byte, as the field reader sees it.
std::string_view TextBeforeNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// After the field reader refused a field at `position`: true when text was left there, that
// is when the field was longer than its bound rather than missing.
bool FieldWasTooLong(std::string_view text, std::size_t position) {
    return position < TextBeforeNul(text).size();
}

// Writes "EROARE PROTOCOL WEB LA LINIA [<line>]<detail>", followed by "<value>]" when a value
// is given, as the whole reply. A long line (or value) is cut so that the message, frame
// included, stays within the reply's bound.
void WriteLineError(std::string& reply, std::string_view line, std::string_view detail = {},
                    std::optional<std::string_view> value = std::nullopt) {
    const std::size_t frame =
        kErrorHead.size() + kQuoteEnd.size() + detail.size() + (value ? kQuoteEnd.size() : 0);
    const std::string_view valueText = value.value_or("").substr(0, kMaxReplyLength - frame);
    const std::string_view lineText = line.substr(0, kMaxReplyLength - frame - valueText.size());
    reply.assign(kErrorHead).append(lineText).append(kQuoteEnd).append(detail);
    if (value) {
        reply.append(valueText).append(kQuoteEnd);
    }
}

// One run of a command text. The line and field buffers are reused from line to line.
class CommandTextRun {
  public:
    CommandTextRun(std::string& reply, bool hexNames, VirtualRegister* driver)
        : reply_(reply), hexNames_(hexNames), driver_(driver) {}

    bool Run(std::string_view text) {
        reply_.clear();
        std::size_t linePosition = 0;
        // The end of the text, or only blanks left, ends it successfully.
        while (NextField(text, linePosition, line_, kMaxLineLength, kLineSeparator)) {
            switch (RunLine()) {
                case Outcome::kNextLine:
                    break;
                case Outcome::kSucceeded:
                    return true;
                case Outcome::kFailed:
                    return Fail();
            }
        }
        if (FieldWasTooLong(text, linePosition)) {
            WriteLongLineError(text.substr(linePosition));
            return Fail();
        }
        return true;
    }

  private:
    enum class Outcome { kNextLine, kSucceeded, kFailed };

    // Ends a failed request: the receipt it opened goes, so that the next one starts clean.
    bool Fail() {
        if (openedReceipt_ && driver_ != nullptr) {
            driver_->AbandonReceipt(reply_.empty() ? kRequestFailedReason
                                                   : std::string_view(reply_));
        }
        return false;
    }

    // "EROARE PROTOCOL WEB LA LINIA [<first 100 characters>…], line too long".
    void WriteLongLineError(std::string_view rest) {
        std::size_t start = 0;
        while (start < rest.size() && rest[start] == ' ') ++start;  // as the field reader does
        std::string quoted(rest.substr(start, kQuotedLongLineLength));
        quoted += kLongLineCut;
        WriteLineError(reply_, quoted, kLineTooLongDetail);
    }

    // The reply for a driver operation that failed on this line: the driver's reason after
    // the quoted line when it gave one, else a pointer to the register log.
    Outcome DriverRefused() {
        if (driver_ == nullptr || driver_->failureReason.empty()) {
            WriteLineError(reply_, line_, kCheckLogDetail);
        } else {
            const std::string detail = std::string(kDetailSeparator) + driver_->failureReason;
            WriteLineError(reply_, line_, detail);
        }
        return Outcome::kFailed;
    }

    void ClearFailureReason() {
        if (driver_ != nullptr) driver_->failureReason.clear();
    }

    Outcome RunLine() {
        fieldPosition_ = 0;
        if (!NextField(line_, fieldPosition_, code_, kMaxCommandCodeLength, kFieldSeparator)) {
            WriteLineError(reply_, line_);
            return Outcome::kFailed;
        }
        switch (FindCommand(code_)) {
            case Command::kBeginSell:
                return BeginSell();
            case Command::kCommandH:
                return DeviceCommand(&VirtualRegister::CommandH);
            case Command::kCommandF:
                return DeviceCommand(&VirtualRegister::CommandF);
            case Command::kCommandN:
                return DeviceCommand(&VirtualRegister::CommandN);
            case Command::kPrintText:
                return PrintText();
            case Command::kSellItem:
                return SellItem();
            case Command::kPayment:
                return Payment();
            case Command::kCloseReceipt:
                return CloseReceipt();
            case Command::kResetAfterSell:
                if (driver_ != nullptr) driver_->ResetAfterSell();
                return Outcome::kNextLine;
            case Command::kReportZ:
                return Report(&VirtualRegister::DailyReportsZ);
            case Command::kReportX:
                return Report(&VirtualRegister::DailyReportsX);
            case Command::kDiscount:
                return Discount();
            case Command::kCashInOut:
                return CashInOut();
            case Command::kReceiptDuplicate:
                return ReceiptDuplicate();
            case Command::kNone:
                return Outcome::kNextLine;
        }
        return Outcome::kNextLine;
    }

    // A receipt that cannot begin fails the request: the lines that follow would otherwise
    // land on another receipt and be answered with success. A receipt this request began
    // already is still open, so a second BS fails.
    Outcome BeginSell() {
        if (driver_ == nullptr) return Outcome::kNextLine;
        if (!openedReceipt_ && driver_->state == ReceiptState::selling) {
            driver_->AbandonReceipt(kLeftOpenReason);
        }
        ClearFailureReason();
        if (!driver_->BeginSell()) return DriverRefused();
        openedReceipt_ = true;
        return Outcome::kNextLine;
    }

    // LK, UK and RR: a line of the open receipt. One the driver refused (no receipt open, no
    // room left) would be missing from the receipt, so it fails the request.
    Outcome DeviceCommand(bool (VirtualRegister::*command)()) {
        if (driver_ == nullptr) return Outcome::kNextLine;
        ClearFailureReason();
        if (!(driver_->*command)()) return DriverRefused();
        return Outcome::kNextLine;
    }

    // A missing argument reads as empty. An over-long one fails the line (false, with the
    // reply written): read on, its text would land in the fields that follow.
    bool ReadArgument(std::string& field, std::size_t maxLength) {
        if (NextField(line_, fieldPosition_, field, maxLength, kFieldSeparator) ||
            !FieldWasTooLong(line_, fieldPosition_)) {
            return true;
        }
        WriteLineError(reply_, line_, kFieldTooLongDetail);
        return false;
    }

    // A price, quantity, amount or percentage: empty, or a plain decimal number of at most
    // `bound` in magnitude. Anything else fails the line (false, with "<detail><text>]" in
    // the reply).
    bool ReadNumber(const std::string& field, std::string_view detail, double& value,
                    double bound = kMaxReceiptNumber) {
        const std::optional<double> number = ParsePlainDecimal(field, bound);
        if (!number) {
            WriteLineError(reply_, line_, detail, field);
            return false;
        }
        value = *number;
        return true;
    }

    Outcome PrintText() {
        if (!ReadArgument(text_, kMaxPrintTextLength)) return Outcome::kFailed;
        const std::string_view text = text_;
        const auto piece = [text](std::size_t index) {
            const std::size_t start = index * kPrintPieceLength;
            return start < text.size() ? text.substr(start, kPrintPieceLength) : std::string_view{};
        };
        if (driver_ == nullptr) return Outcome::kNextLine;
        ClearFailureReason();
        if (!driver_->PrintText(piece(0), piece(1), piece(2), piece(3), {})) {
            return DriverRefused();
        }
        return Outcome::kNextLine;
    }

    Outcome SellItem() {
        if (!ReadArgument(name_, kMaxItemNameLength)) return Outcome::kFailed;
        if (hexNames_) {
            DecodeHexName(name_, scratch_);
            name_.swap(scratch_);
        }
        if (!ReadArgument(price_, kMaxPriceLength) ||
            !ReadArgument(quantity_, kMaxQuantityLength) ||
            !ReadArgument(vatGroup_, kMaxVatGroupLength) ||
            !ReadArgument(itemGroup_, kMaxItemGroupLength) ||
            !ReadArgument(namePrefix_, kMaxNamePrefixLength)) {
            return Outcome::kFailed;
        }

        if (itemGroup_.size() > 1) {
            WriteLineError(reply_, line_, kItemGroupDetail, itemGroup_);
            return Outcome::kFailed;
        }
        const char itemGroup = itemGroup_.empty() ? kDefaultItemGroup : itemGroup_.front();
        if (!namePrefix_.empty()) {
            scratch_.assign(namePrefix_).append(1, kNamePrefixSeparator).append(name_);
            name_.swap(scratch_);
        }
        double price = 0.0;
        double quantity = 0.0;
        if (!ReadNumber(price_, kPriceDetail, price) ||
            !ReadNumber(quantity_, kQuantityDetail, quantity)) {
            return Outcome::kFailed;
        }

        ClearFailureReason();
        if (driver_ == nullptr ||
            !driver_->SellItem(name_, price, quantity, vatGroup_, itemGroup, kSellItemNumber)) {
            return DriverRefused();
        }
        return Outcome::kNextLine;
    }

    Outcome Payment() {
        if (!ReadArgument(paymentType_, kMaxPaymentTypeLength)) return Outcome::kFailed;
        // Empty is cash (0); "2x" or "abc" is no type at all, never a guessed one.
        const std::optional<int> paymentType = ParsePlainInt(paymentType_);
        if (!paymentType || *paymentType < kMinPaymentType || *paymentType > kMaxPaymentType) {
            WriteLineError(reply_, line_, kPaymentTypeDetail, paymentType_);
            return Outcome::kFailed;
        }
        if (!ReadArgument(amount_, kMaxAmountLength)) return Outcome::kFailed;
        double amount = 0.0;
        if (!ReadNumber(amount_, kAmountDetail, amount)) return Outcome::kFailed;
        if (driver_ == nullptr) return Outcome::kNextLine;
        ClearFailureReason();
        if (!driver_->Payment(*paymentType, amount)) return DriverRefused();
        return Outcome::kNextLine;
    }

    // A percentage off the total of the open receipt (a negative one is a surcharge). The
    // driver refuses it outside a receipt.
    Outcome Discount() {
        if (!ReadArgument(percent_, kMaxPercentLength)) return Outcome::kFailed;
        double percent = 0.0;
        if (!ReadNumber(percent_, kPercentDetail, percent, kMaxDiscountPercent)) {
            return Outcome::kFailed;
        }
        ClearFailureReason();
        if (driver_ == nullptr || !driver_->Discount(static_cast<float>(percent))) {
            return DriverRefused();
        }
        return Outcome::kNextLine;
    }

    // Cash put into the drawer (an amount of 0 or more) or taken out (a negative one), as a
    // line of the open receipt.
    Outcome CashInOut() {
        if (!ReadArgument(amount_, kMaxAmountLength)) return Outcome::kFailed;
        double amount = 0.0;
        if (!ReadNumber(amount_, kAmountDetail, amount)) return Outcome::kFailed;
        ClearFailureReason();
        if (driver_ == nullptr || !driver_->CashInOut(amount)) return DriverRefused();
        return Outcome::kNextLine;
    }

    // A copy of the last receipt, printed outside a receipt. Unlike the daily reports it does
    // not end the text.
    Outcome ReceiptDuplicate() {
        ClearFailureReason();
        if (driver_ == nullptr || !driver_->ReceiptDuplicate()) return DriverRefused();
        return Outcome::kNextLine;
    }

    // The driver may explain a refusal in the reply; whatever it writes is kept within bound.
    // A refusal the driver did not explain is answered with the line and a pointer to the
    // reason, never with a bare failure.
    Outcome CloseReceipt() {
        if (driver_ == nullptr) {
            WriteLineError(reply_, line_, kCheckLogDetail);
            return Outcome::kFailed;
        }
        const bool receiptOpen = driver_->state == ReceiptState::selling;
        const std::string before = reply_;
        const bool closed = driver_->CloseReceipt(&reply_);
        if (reply_.size() > kMaxReplyLength) {
            reply_.resize(kMaxReplyLength);
        }
        if (!closed) {
            if (reply_ == before) {
                WriteLineError(reply_, line_, receiptOpen ? kCheckLogDetail : kNoReceiptDetail);
            }
            return Outcome::kFailed;
        }
        openedReceipt_ = false;
        ++driver_->health.receiptsClosed;
        return Outcome::kNextLine;
    }

    // A daily report ends the text; its result is the result of the whole text. A failed
    // report says why: the driver's reason, or the register log.
    Outcome Report(bool (VirtualRegister::*report)()) {
        ClearFailureReason();
        if (driver_ != nullptr && (driver_->*report)()) return Outcome::kSucceeded;
        if (driver_ == nullptr || driver_->failureReason.empty()) {
            WriteLineError(reply_, line_, kCheckLogDetail);
        } else {
            reply_.assign(driver_->failureReason.substr(0, kMaxReplyLength));
        }
        return Outcome::kFailed;
    }

    std::string& reply_;
    const bool hexNames_;
    VirtualRegister* const driver_;

    bool openedReceipt_ = false;  // a receipt this request began is open
    std::string line_;
    std::size_t fieldPosition_ = 0;
    std::string code_;
    std::string text_;
    std::string name_;
    std::string price_;
    std::string quantity_;
    std::string vatGroup_;
    std::string itemGroup_;
    std::string namePrefix_;
    std::string paymentType_;
    std::string amount_;
    std::string percent_;
    std::string scratch_;
};

}  // namespace

bool ExecuteCommandText(std::string_view text, std::string& replyText, bool hexNames,
                        VirtualRegister* driver) {
    return CommandTextRun(replyText, hexNames, driver).Run(text);
}

}  // namespace tillvane
