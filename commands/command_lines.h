#pragma once
// The line table of the command interpreter: the separators, the bounds of a line and of each
// field, the command codes, and the error messages a line fails with. Used by the interpreter
// alone.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "commands/command_interpreter.h"

namespace tillvane::commands {

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

// A printed text line reaches the driver as four pieces of kMaxPrintTextPieceLength
// characters; the rest is dropped.

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

// The command a code names, or kNone. Compared in table order; a code matches only when the
// whole field equals it (case and trailing blanks count).
Command FindCommand(std::string_view code);

// Decodes a hex-encoded name: each group of two characters (an odd last one alone) gives the
// low 8 bits of its value as one byte; a 0 byte ends the name.
void DecodeHexName(std::string_view hex, std::string& name);

// The text proper: everything before its first NUL byte, as the field reader sees it.
std::string_view TextBeforeNul(std::string_view text);

// After the field reader refused a field at `position`: true when text was left there, that
// is when the field was longer than its bound rather than missing.
bool FieldWasTooLong(std::string_view text, std::size_t position);

// Writes "EROARE PROTOCOL WEB LA LINIA [<line>]<detail>", followed by "<value>]" when a value
// is given, as the whole reply. A long line (or value) is cut so that the message, frame
// included, stays within the reply's bound.
void WriteLineError(std::string& reply, std::string_view line, std::string_view detail = {},
                    std::optional<std::string_view> value = std::nullopt);

}  // namespace tillvane::commands
