#include "registers/serial/serial_ufp_register.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "config/ini_loader.h"
#include "config/numbers.h"
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

// A piece of a text line: at most kPrintTextFieldLength characters, ";" made a blank.
std::string TextField(std::string_view piece) {
    std::string field(piece.substr(0, kPrintTextFieldLength));
    std::replace(field.begin(), field.end(), ';', ' ');
    return field;
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

SerialUFPRegister::SerialUFPRegister() : link_(port, log) {}

SerialUFPRegister::SerialUFPRegister(ByteChannel& channel, Pause pause)
    : link_(channel, log, std::move(pause)) {}

bool SerialUFPRegister::Send(std::uint8_t command, std::string_view data,
                             std::string_view logName) {
    link_.Exchange(command, accessCode, data, &replyData, lastError);
    if (lastError != 0 && !logName.empty()) {
        WriteLog(std::string(logName) + ":lastError=" + std::to_string(lastError));
    }
    return lastError != kLinkWriteFailed;
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
    if (!Send(printer::kOpenReceipt, kOpenReceiptData, "BeginSell")) return false;
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

    // The name takes what room the frame leaves; a longer one would break the frame.
    std::erase(name, '\0');
    const std::size_t fixedLength =
        accessCode.size() + itemCode.size() + 2 + group->code.size() + kProgramItemTail.size();
    if (fixedLength < link::kMaxRequestText && name.size() > link::kMaxRequestText - fixedLength) {
        name.resize(link::kMaxRequestText - fixedLength);
    }
    const std::string itemData =
        itemCode + ";" + name + ";" + group->code + std::string(kProgramItemTail);
    if (!Send(printer::kProgramItem, itemData, "ProgItem")) return false;

    const std::string saleData = itemCode + ";" + FormatFixed(quantity, kQuantityDecimals) + ";" +
                                 FormatFixed(price, kPriceDecimals) + ";";
    return Send(printer::kSellItem, saleData, "SellItem");
}

bool SerialUFPRegister::PrintText(std::string_view piece1, std::string_view piece2,
                                  std::string_view piece3, std::string_view /*piece4*/,
                                  std::string_view /*piece5*/) {
    if (IsCommandDisabled('P')) return true;
    const std::array<std::string_view, kPrintedTextPieces> pieces{piece1, piece2, piece3};
    std::string data;
    for (const std::string_view piece : pieces) data += TextField(piece);
    data += ';';
    if (state != ReceiptState::selling) return false;
    return Send(printer::kPrintText, data, {});
}

bool SerialUFPRegister::Payment(int paymentType, double amount) {
    if (IsCommandDisabled('T')) {
        WriteLog("ERROR: T command disabled (unsupported payment modes)");
        return false;
    }
    if (state != ReceiptState::selling) return false;
    if (!totalDisplayed) {
        Send(printer::kDisplayTotal, kDisplayTotalData, "DisplayTotal");
        totalDisplayed = true;
    }
    paidTotal += amount;
    const std::string data =
        std::to_string(paymentType) + ";" + FormatFixed(amount, kAmountDecimals) + ";";
    return Send(printer::kPayment, data, "Payment");
}

bool SerialUFPRegister::CloseReceipt(std::string* message) {
    if (state != ReceiptState::selling) return false;
    if (!TotalsAllowClose(message)) {
        state = ReceiptState::ready;
        return false;
    }
    if (!Send(printer::kCloseReceipt, kCloseReceiptData, "CloseReceipt")) return false;
    state = ReceiptState::afterSell;
    return true;
}

bool SerialUFPRegister::DailyReport(std::string_view data, std::string_view logName) {
    return Send(printer::kDailyReport, data, logName);
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
