#include "commands/command_interpreter.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/numbers.h"
#include "base/text_split.h"
#include "commands/command_lines.h"
#include "registers/field_text.h"
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

using namespace commands;

// One run of a command text. The line and field buffers are reused from line to line.
class CommandTextRun {
  public:
    CommandTextRun(bool hexNames, VirtualRegister* driver) : hexNames_(hexNames), driver_(driver) {}

    // The reply text, or a failure whose text is the reply.
    Result<std::string> Run(std::string_view text) {
        reply_.clear();
        // A printer that cannot be reached fails the request before its first line, at once.
        ClearFailureReason();
        if (driver_ != nullptr && !driver_->ConnectPrinter()) {
            reply_.assign(driver_->RefusalReason().substr(0, kMaxReplyLength));
            return platform::Error::Message(std::move(reply_));
        }
        std::size_t linePosition = 0;
        // The end of the text, or only blanks left, ends it successfully.
        while (NextField(text, linePosition, line_, kMaxLineLength, kLineSeparator)) {
            switch (RunLine()) {
                case Outcome::kNextLine:
                    break;
                case Outcome::kSucceeded:
                    return std::move(reply_);
                case Outcome::kFailed:
                    return Fail();
            }
        }
        if (FieldWasTooLong(text, linePosition)) {
            WriteLongLineError(text.substr(linePosition));
            return Fail();
        }
        return std::move(reply_);
    }

  private:
    enum class Outcome { kNextLine, kSucceeded, kFailed };

    // Ends a failed request: the receipt it opened goes, so that the next one starts clean.
    platform::Error Fail() {
        if (openedReceipt_ && driver_ != nullptr) {
            driver_->AbandonReceipt(reply_.empty() ? kRequestFailedReason
                                                   : std::string_view(reply_));
        }
        return platform::Error::Message(std::move(reply_));
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
        if (driver_ == nullptr || driver_->RefusalReason().empty()) {
            WriteLineError(reply_, line_, kCheckLogDetail);
        } else {
            const std::string detail = std::string(kDetailSeparator) + driver_->RefusalReason();
            WriteLineError(reply_, line_, detail);
        }
        return Outcome::kFailed;
    }

    void ClearFailureReason() {
        if (driver_ != nullptr) driver_->ForgetRefusal();
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
                return ResetAfterSell();
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

    // A missing argument reads as empty. An over-long one fails the line, with the reply
    // written: read on, its text would land in the fields that follow. `field` is the line's
    // buffer the argument goes to.
    platform::Error ReadArgument(std::string& field, std::size_t maxLength) {
        if (NextField(line_, fieldPosition_, field, maxLength, kFieldSeparator) ||
            !FieldWasTooLong(line_, fieldPosition_)) {
            return {};
        }
        return LineError(kFieldTooLongDetail);
    }

    // A price, quantity, amount or percentage: a plain decimal number of at most `bound` in
    // magnitude, or empty (0) where `emptyMeansZero`. Anything else fails the line, with
    // "<detail><text>]" in the reply.
    Result<double> ReadNumber(const std::string& field, std::string_view detail,
                              double bound = kMaxReceiptNumber, bool emptyMeansZero = true) {
        // An empty field where a figure must stand is refused as a broken one is.
        if (field.empty() && !emptyMeansZero) return LineError(detail, field);
        const Result<double> number = ParsePlainDecimal(field, bound);
        if (!number) return LineError(detail, field);
        return number;
    }

    // Fails the line: the reply is the line error, and so is the failure's text.
    platform::Error LineError(std::string_view detail,
                              std::optional<std::string_view> value = std::nullopt) {
        WriteLineError(reply_, line_, detail, value);
        return platform::Error::Message(reply_);
    }

    Outcome PrintText() {
        if (!ReadArgument(text_, kMaxPrintTextLength).ok()) return Outcome::kFailed;
        const std::string_view text = text_;
        const auto piece = [text](std::size_t index) {
            const std::size_t start = index * kMaxPrintTextPieceLength;
            return start < text.size() ? text.substr(start, kMaxPrintTextPieceLength)
                                       : std::string_view{};
        };
        if (driver_ == nullptr) return Outcome::kNextLine;
        ClearFailureReason();
        if (!driver_->PrintText(piece(0), piece(1), piece(2), piece(3), {})) {
            return DriverRefused();
        }
        return Outcome::kNextLine;
    }

    Outcome SellItem() {
        if (!ReadArgument(name_, kMaxItemNameLength).ok()) return Outcome::kFailed;
        if (hexNames_) {
            DecodeHexName(name_, scratch_);
            name_.swap(scratch_);
        }
        if (!ReadArgument(price_, kMaxPriceLength).ok() ||
            !ReadArgument(quantity_, kMaxQuantityLength).ok() ||
            !ReadArgument(vatGroup_, kMaxVatGroupLength).ok() ||
            !ReadArgument(itemGroup_, kMaxItemGroupLength).ok() ||
            !ReadArgument(namePrefix_, kMaxNamePrefixLength).ok()) {
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
        // A sale at 0.00 or of nothing is never what an empty field meant.
        const Result<double> price = ReadNumber(price_, kPriceDetail, kMaxReceiptNumber, false);
        if (!price) return Outcome::kFailed;
        const Result<double> quantity =
            ReadNumber(quantity_, kQuantityDetail, kMaxReceiptNumber, false);
        if (!quantity) return Outcome::kFailed;

        ClearFailureReason();
        if (driver_ == nullptr ||
            !driver_->SellItem(name_, *price, *quantity, vatGroup_, itemGroup, kSellItemNumber)) {
            return DriverRefused();
        }
        return Outcome::kNextLine;
    }

    Outcome Payment() {
        if (!ReadArgument(paymentType_, kMaxPaymentTypeLength).ok()) return Outcome::kFailed;
        // Empty is cash (0); "2x" or "abc" is no type at all, never a guessed one.
        const Result<int> paymentType = ParsePlainInt(paymentType_);
        if (!paymentType || *paymentType < kMinPaymentType || *paymentType > kMaxPaymentType) {
            WriteLineError(reply_, line_, kPaymentTypeDetail, paymentType_);
            return Outcome::kFailed;
        }
        if (!ReadArgument(amount_, kMaxAmountLength).ok()) return Outcome::kFailed;
        const Result<double> amount = ReadNumber(amount_, kAmountDetail);
        if (!amount) return Outcome::kFailed;
        if (driver_ == nullptr) return Outcome::kNextLine;
        ClearFailureReason();
        if (!driver_->Payment(*paymentType, *amount)) return DriverRefused();
        return Outcome::kNextLine;
    }

    // A percentage off the total of the open receipt (a negative one is a surcharge). The
    // driver refuses it outside a receipt.
    Outcome Discount() {
        if (!ReadArgument(percent_, kMaxPercentLength).ok()) return Outcome::kFailed;
        const Result<double> percent = ReadNumber(percent_, kPercentDetail, kMaxDiscountPercent);
        if (!percent) return Outcome::kFailed;
        ClearFailureReason();
        if (driver_ == nullptr || !driver_->Discount(static_cast<float>(*percent))) {
            return DriverRefused();
        }
        return Outcome::kNextLine;
    }

    // Cash put into the drawer (an amount of 0 or more) or taken out (a negative one), as a
    // line of the open receipt.
    Outcome CashInOut() {
        if (!ReadArgument(amount_, kMaxAmountLength).ok()) return Outcome::kFailed;
        const Result<double> amount = ReadNumber(amount_, kAmountDetail);
        if (!amount) return Outcome::kFailed;
        ClearFailureReason();
        if (driver_ == nullptr || !driver_->CashInOut(*amount)) return DriverRefused();
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
                const std::string noReceiptDetail =
                    std::string(kDetailSeparator).append(kNoReceiptOpenReason);
                WriteLineError(reply_, line_,
                               receiptOpen ? kCheckLogDetail : std::string_view(noReceiptDetail));
            }
            return Outcome::kFailed;
        }
        openedReceipt_ = false;
        driver_->CountClosedReceipt();
        return Outcome::kNextLine;
    }

    // A daily report ends the text; its result is the result of the whole text. A failed
    // report says why: the driver's reason, or the register log.
    // A driver that cannot tell why it refused leaves the line as it always was: done.
    Outcome ResetAfterSell() {
        if (driver_ == nullptr) return Outcome::kNextLine;
        ClearFailureReason();
        if (driver_->ResetAfterSell() || driver_->RefusalReason().empty()) {
            return Outcome::kNextLine;
        }
        reply_.assign(driver_->RefusalReason().substr(0, kMaxReplyLength));
        return Outcome::kFailed;
    }

    Outcome Report(bool (VirtualRegister::*report)()) {
        ClearFailureReason();
        if (driver_ != nullptr && (driver_->*report)()) return Outcome::kSucceeded;
        if (driver_ == nullptr || driver_->RefusalReason().empty()) {
            WriteLineError(reply_, line_, kCheckLogDetail);
        } else {
            reply_.assign(driver_->RefusalReason().substr(0, kMaxReplyLength));
        }
        return Outcome::kFailed;
    }

    std::string reply_;
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

Result<std::string> ExecuteCommandText(std::string_view text, bool hexNames,
                                       VirtualRegister* driver) {
    return CommandTextRun(hexNames, driver).Run(text);
}

}  // namespace tillvane
