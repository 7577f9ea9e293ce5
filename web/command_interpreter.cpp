#include "web/command_interpreter.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "config/numbers.h"
#include "config/text_split.h"
#include "registers/virtual_register.h"

// Without a driver no request may reach one. BS, LK, UK, RR, PT and AP still read and check
// their fields (a bad payment type still fails) and call nothing; RO does nothing. Lines whose
// result matters fail instead of pretending: SI with the "check log" message (the register log
// already says that no driver model is implemented), ES with the reply left as it is, and ZR
// and XR end the text with false, since no report was printed.

namespace tillvane {
namespace {

inline constexpr char kLineSeparator = '|';
inline constexpr char kFieldSeparator = '^';

// Longest texts of a line and of each field, in characters. A longer line ends the text; a
// longer field reads as empty and leaves the reading position where it was, so the next
// argument of the line reads the same text again.
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

inline constexpr std::size_t kMaxReplyLength = kReplyTextCapacity - 1;

// "EROARE PROTOCOL WEB LA LINIA [%s]" and the variants that add a detail after the quoted line.
inline constexpr std::string_view kErrorHead = "EROARE PROTOCOL WEB LA LINIA [";
inline constexpr std::string_view kQuoteEnd = "]";
inline constexpr std::string_view kCheckLogDetail = ", check log";
inline constexpr std::string_view kItemGroupDetail = ", invalid ItemGroup [";
inline constexpr std::string_view kPaymentTypeDetail = ", invalid paymentType [";

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
    kNone,
};

struct CommandCode {
    std::string_view code;
    Command command;
};

// Compared in this order; a code matches only when the whole field equals it (case and
// trailing blanks count).
inline constexpr std::array<CommandCode, 11> kCommandCodes{{
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
        // No further line (the end of the text, only blanks left, or a line longer than its
        // bound) ends the text successfully.
        while (NextField(text, linePosition, line_, kMaxLineLength, kLineSeparator)) {
            switch (RunLine()) {
                case Outcome::kNextLine:
                    break;
                case Outcome::kSucceeded:
                    return true;
                case Outcome::kFailed:
                    return false;
            }
        }
        return true;
    }

  private:
    enum class Outcome { kNextLine, kSucceeded, kFailed };

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
                if (driver_ != nullptr) driver_->CommandH();
                return Outcome::kNextLine;
            case Command::kCommandF:
                if (driver_ != nullptr) driver_->CommandF();
                return Outcome::kNextLine;
            case Command::kCommandN:
                if (driver_ != nullptr) driver_->CommandN();
                return Outcome::kNextLine;
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
            case Command::kNone:
                return Outcome::kNextLine;
        }
        return Outcome::kNextLine;
    }

    // A receipt that cannot begin fails the request: the driver refuses while an earlier
    // receipt is still open, and the lines that follow would otherwise land on that receipt
    // and be answered with success.
    Outcome BeginSell() {
        if (driver_ != nullptr && !driver_->BeginSell()) {
            WriteLineError(reply_, line_, kCheckLogDetail);
            return Outcome::kFailed;
        }
        return Outcome::kNextLine;
    }

    // A missing or over-long argument reads as empty; the line goes on regardless.
    void ReadArgument(std::string& field, std::size_t maxLength) {
        NextField(line_, fieldPosition_, field, maxLength, kFieldSeparator);
    }

    Outcome PrintText() {
        ReadArgument(text_, kMaxPrintTextLength);
        const std::string_view text = text_;
        const auto piece = [text](std::size_t index) {
            const std::size_t start = index * kPrintPieceLength;
            return start < text.size() ? text.substr(start, kPrintPieceLength) : std::string_view{};
        };
        if (driver_ != nullptr) {
            driver_->PrintText(piece(0), piece(1), piece(2), piece(3), {});
        }
        return Outcome::kNextLine;
    }

    Outcome SellItem() {
        ReadArgument(name_, kMaxItemNameLength);
        if (hexNames_) {
            DecodeHexName(name_, scratch_);
            name_.swap(scratch_);
        }
        ReadArgument(price_, kMaxPriceLength);
        ReadArgument(quantity_, kMaxQuantityLength);
        ReadArgument(vatGroup_, kMaxVatGroupLength);
        ReadArgument(itemGroup_, kMaxItemGroupLength);
        ReadArgument(namePrefix_, kMaxNamePrefixLength);

        if (itemGroup_.size() > 1) {
            WriteLineError(reply_, line_, kItemGroupDetail, itemGroup_);
            return Outcome::kFailed;
        }
        const char itemGroup = itemGroup_.empty() ? kDefaultItemGroup : itemGroup_.front();
        if (!namePrefix_.empty()) {
            scratch_.assign(namePrefix_).append(1, kNamePrefixSeparator).append(name_);
            name_.swap(scratch_);
        }
        const double price = ParseDecimalDouble(price_);
        const double quantity = ParseDecimalDouble(quantity_);

        if (driver_ == nullptr ||
            !driver_->SellItem(name_, price, quantity, vatGroup_, itemGroup, kSellItemNumber)) {
            WriteLineError(reply_, line_, kCheckLogDetail);
            return Outcome::kFailed;
        }
        return Outcome::kNextLine;
    }

    Outcome Payment() {
        ReadArgument(paymentType_, kMaxPaymentTypeLength);
        const int paymentType = ParseDecimalInt(paymentType_);
        if (paymentType < kMinPaymentType || paymentType > kMaxPaymentType) {
            WriteLineError(reply_, line_, kPaymentTypeDetail, paymentType_);
            return Outcome::kFailed;
        }
        ReadArgument(amount_, kMaxAmountLength);
        const double amount = ParseDecimalDouble(amount_);
        if (driver_ != nullptr) {
            driver_->Payment(paymentType, amount);
        }
        return Outcome::kNextLine;
    }

    // The driver may explain a refusal in the reply; whatever it writes is kept within bound.
    Outcome CloseReceipt() {
        if (driver_ == nullptr) {
            return Outcome::kFailed;
        }
        const bool closed = driver_->CloseReceipt(&reply_);
        if (reply_.size() > kMaxReplyLength) {
            reply_.resize(kMaxReplyLength);
        }
        return closed ? Outcome::kNextLine : Outcome::kFailed;
    }

    // A daily report ends the text; its result is the result of the whole text.
    Outcome Report(bool (VirtualRegister::*report)()) {
        const bool printed = driver_ != nullptr && (driver_->*report)();
        return printed ? Outcome::kSucceeded : Outcome::kFailed;
    }

    std::string& reply_;
    const bool hexNames_;
    VirtualRegister* const driver_;

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
    std::string scratch_;
};

}  // namespace

bool ExecuteCommandText(std::string_view text, std::string& replyText, bool hexNames,
                        VirtualRegister* driver) {
    return CommandTextRun(replyText, hexNames, driver).Run(text);
}

}  // namespace tillvane
