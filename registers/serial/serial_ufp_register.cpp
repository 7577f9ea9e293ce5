#include "registers/serial/serial_ufp_register.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <utility>

#include "config/ini_loader.h"
#include "config/numbers.h"
#include "registers/field_text.h"
#include "registers/serial/link_frame.h"
#include "registers/serial/printer_commands.h"

namespace tillvane {

namespace {

constexpr std::string_view kSetupData = "20;0;";
constexpr std::string_view kOpenReceiptData = "1;1;0;";
constexpr std::string_view kDisplayTotalData = "1;";
constexpr std::string_view kCloseReceiptData = "1;";
constexpr std::string_view kZReportData = "0;";
constexpr std::string_view kXReportData = "1;";
// What follows the VAT group code in the item command.
constexpr std::string_view kProgramItemTail = ";1;00;;";
constexpr int kQuantityDecimals = 3;
constexpr int kPriceDecimals = 2;
constexpr int kAmountDecimals = 2;
constexpr std::size_t kPrintedTextPieces = 3;
constexpr std::size_t kItemCodeBufferSize = 64;

constexpr std::string_view kNoReceiptOpenReason = "no receipt open";
constexpr std::string_view kNotSupportedReason = "not supported by this printer";

// A piece of a text line: at most kPrintTextFieldLength characters, ";" made a blank.
std::string TextField(std::string_view piece) {
    return WithoutFieldEnds(piece.substr(0, kPrintTextFieldLength));
}

// What the link's own codes mean; the printer's codes are its own business.
std::string_view LinkErrorMeaning(int code) {
    switch (code) {
        case kLinkWriteFailed:
            return " (frame not sent)";
        case kLinkReplyTooLong:
            return " (reply too long)";
        case kLinkNak:
            return " (NAK)";
        case kLinkEmptyResponse:
            return " (empty reply)";
        case kLinkSilent:
            return " (no reply)";
        default:
            return {};
    }
}

}  // namespace

std::string MakeItemCode(const platform::LocalTime& time) {
    // Room for any int values, although a local time always gives exactly 11 digits.
    std::array<char, kItemCodeBufferSize> code{};
    // Each value is cut to its field so that the code keeps its 11 digits.
    std::snprintf(code.data(), code.size(), "%02d%02d%02d%02d%03d", time.tm.tm_mday % 100,
                  time.tm.tm_hour % 100, time.tm.tm_min % 100, time.tm.tm_sec % 100,
                  time.milliseconds % 1000);
    return code.data();
}

std::string PrinterErrorText(int code, std::string_view command) {
    return "Printer error " + std::to_string(code) + std::string(LinkErrorMeaning(code)) + " on " +
           std::string(command) + "; see register log";
}

SerialUFPRegister::SerialUFPRegister() : link_(port, log) {}

SerialUFPRegister::SerialUFPRegister(ByteChannel& channel, Pause pause)
    : link_(channel, log, std::move(pause)) {}

bool SerialUFPRegister::Send(std::uint8_t command, std::string_view data, std::string_view name,
                             LogCode logCode) {
    link_.Exchange(command, accessCode, data, &replyData, lastError);
    if (lastError != 0) {
        if (logCode == LogCode::yes) {
            WriteLog(std::string(name) + ":lastError=" + std::to_string(lastError));
        }
        if (!firstError_) firstError_ = CommandError{lastError, std::string(name)};
        health.RecordError(lastError, std::string(name));
    }
    return lastError != kLinkWriteFailed;
}

std::string SerialUFPRegister::FirstErrorText() const {
    return firstError_ ? PrinterErrorText(firstError_->code, firstError_->command) : std::string();
}

bool SerialUFPRegister::NotSupported(std::string_view operation) {
    WriteLog(std::string(operation) + ": " + std::string(kNotSupportedReason));
    failureReason = kNotSupportedReason;
    return false;
}

void SerialUFPRegister::Handshake() {
    link_.SetSequenceNumber(kHandshakeSequence);
    // The printer's answer to this one, if any, is dropped before the next frame goes out.
    link_.Exchange(printer::kSetup, accessCode, kSetupData, nullptr, lastError);
    if (!Send(printer::kReadParameters, {}, "RcvPrinterPar")) return;
    if (!Send(printer::kSoftwareVersion, {}, "SofVer")) return;
    link_.pause()(kPauseAfterHandshake);
    handshakeDone = true;
}

bool SerialUFPRegister::BeginSell() {
    if (state != ReceiptState::ready && state != ReceiptState::afterSell) {
        WriteLog("BeginSell: Status not ready or afterSell");
        return false;
    }
    if (!handshakeDone) Handshake();
    // The printer queries are not part of the receipt; what counts starts here.
    firstError_.reset();
    if (!Send(printer::kOpenReceipt, kOpenReceiptData, "BeginSell")) {
        failureReason = PrinterErrorText(lastError, "BeginSell");
        return false;
    }
    state = ReceiptState::selling;
    soldTotal = 0.0;
    paidTotal = 0.0;
    return true;
}

bool SerialUFPRegister::SellItem(std::string& name, double price, double quantity,
                                 std::string_view vatGroup, char /*itemGroup*/, int /*number*/) {
    const VatGroup* group = FindVatGroup(vatGroup);
    if (group == nullptr) {
        WriteLog("VAT NOT FOUND");
        return false;
    }
    soldTotal += price * quantity;
    const std::string itemCode = MakeItemCode(platform::NowLocal());
    totalDisplayed = false;

    // The name takes what room the frame leaves; a longer one would break the frame. A ";"
    // in it would end the name field early and let the caller choose the VAT group.
    std::erase(name, '\0');
    name = WithoutFieldEnds(name);
    const std::size_t fixedLength =
        accessCode.size() + itemCode.size() + 2 + group->code.size() + kProgramItemTail.size();
    if (fixedLength < link::kMaxRequestText && name.size() > link::kMaxRequestText - fixedLength) {
        name.resize(link::kMaxRequestText - fixedLength);
    }
    const std::string itemData =
        itemCode + ";" + name + ";" + group->code + std::string(kProgramItemTail);
    if (!Send(printer::kProgramItem, itemData, "ProgItem")) {
        failureReason = PrinterErrorText(lastError, "ProgItem");
        return false;
    }
    const int programError = lastError;

    const std::string saleData = itemCode + ";" + FormatFixed(quantity, kQuantityDecimals) + ";" +
                                 FormatFixed(price, kPriceDecimals) + ";";
    if (!Send(printer::kSellItem, saleData, "SellItem")) {
        failureReason = PrinterErrorText(lastError, "SellItem");
        return false;
    }
    // Inside a receipt its close reports the printer's codes; outside one nothing would, so
    // the item answers for its own.
    if (state != ReceiptState::selling && (programError != 0 || lastError != 0)) {
        failureReason = programError != 0 ? PrinterErrorText(programError, "ProgItem")
                                          : PrinterErrorText(lastError, "SellItem");
        return false;
    }
    return true;
}

bool SerialUFPRegister::PrintText(std::string_view piece1, std::string_view piece2,
                                  std::string_view piece3, std::string_view /*piece4*/,
                                  std::string_view /*piece5*/) {
    if (IsCommandDisabled('P')) return true;
    const std::array<std::string_view, kPrintedTextPieces> pieces{piece1, piece2, piece3};
    std::string data;
    for (const std::string_view piece : pieces) data += TextField(piece);
    data += ';';
    if (state != ReceiptState::selling) {
        failureReason = kNoReceiptOpenReason;
        return false;
    }
    // Error codes of this command are not logged; they still count for the receipt.
    if (Send(printer::kPrintText, data, "PrintText", LogCode::no)) return true;
    failureReason = PrinterErrorText(lastError, "PrintText");
    return false;
}

bool SerialUFPRegister::Payment(int paymentType, double amount) {
    if (IsCommandDisabled('T')) return SkipDisabledPayment(amount);
    if (state != ReceiptState::selling) {
        failureReason = kNoReceiptOpenReason;
        return false;
    }
    if (!totalDisplayed) {
        Send(printer::kDisplayTotal, kDisplayTotalData, "DisplayTotal");
        totalDisplayed = true;
    }
    paidTotal += amount;
    const std::string data =
        std::to_string(paymentType) + ";" + FormatFixed(amount, kAmountDecimals) + ";";
    if (Send(printer::kPayment, data, "Payment")) return true;
    failureReason = PrinterErrorText(lastError, "Payment");
    return false;
}

// The receipt is answered as printed only when every one of its commands ended with 0; the
// frames and the states stay as they are, whatever the codes.
bool SerialUFPRegister::CloseReceipt(std::string* message) {
    if (state != ReceiptState::selling) return false;
    // Refused totals send nothing: the driver is ready for the next receipt.
    if (!TotalsAllowClose(message)) return false;
    const bool sent = Send(printer::kCloseReceipt, kCloseReceiptData, "CloseReceipt");
    if (sent) state = ReceiptState::afterSell;
    const std::string error = FirstErrorText();
    if (error.empty()) return true;
    if (message != nullptr) *message = error;
    return false;
}

bool SerialUFPRegister::DailyReport(std::string_view data, std::string_view logName) {
    // The report answers for its own command; a receipt still open keeps its first error for
    // its close.
    const std::optional<CommandError> receiptError = std::exchange(firstError_, std::nullopt);
    Send(printer::kDailyReport, data, logName);
    failureReason = FirstErrorText();
    firstError_ = receiptError;
    return failureReason.empty();
}

bool SerialUFPRegister::DailyReportsZ() {
    return DailyReport(kZReportData, "DailyReportsZ");
}

bool SerialUFPRegister::DailyReportsX() {
    return DailyReport(kXReportData, "DailyReportsX");
}

bool SerialUFPRegister::LoadDriverSettings(const INILoader& configuration) {
    std::string value;
    if (configuration.GetValue(value, "baudRate")) baudRate = ParseDecimalInt(value);
    link_.SetSequenceNumber(link::kFirstSequence);
    lineSettings = {baudRate, byteSize, parity, stopBits};
    if (!configuration.GetValue(portName, "Port")) portName = kDefaultPortName;

    if (!port.Open(portName, lineSettings)) {
        WriteLog(port.errorText);
        return false;
    }
    state = ReceiptState::ready;
    return true;
}

}  // namespace tillvane
