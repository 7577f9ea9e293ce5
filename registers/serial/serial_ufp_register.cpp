#include "registers/serial/serial_ufp_register.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "base/numbers.h"
#include "base/text_split.h"
#include "base/utc_time.h"
#include "config/ini_loader.h"
#include "registers/field_text.h"
#include "registers/serial/link_frame.h"
#include "registers/serial/port_finder.h"
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

// Added to the printer's error when it ended the receipt: the till knows that nothing of it
// was closed and that it may sell it again.
constexpr std::string_view kReceiptAbandonedNote = "; receipt abandoned, nothing more sent";
constexpr std::string_view kNotSupportedReason = "not supported by this printer";

// "COM3, COM4".
std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        if (!joined.empty()) joined += ", ";
        joined += name;
    }
    return joined;
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

std::string PrinterErrorOnCommand(int code, std::string_view command) {
    return "Printer error " + std::to_string(code) + std::string(LinkErrorMeaning(code)) + " on " +
           std::string(command);
}

std::string UnfinishedReceiptText(const UnfinishedReceipt& receipt) {
    return "the printer holds an unfinished receipt since " + FormatUtcTimestamp(receipt.since) +
           " (" + receipt.reason +
           "); the service cannot end it: finish or cancel it at the printer's keys, then "
           "send this again";
}

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
    return PrinterErrorOnCommand(code, command) + "; see register log";
}

SerialUFPRegister::SerialUFPRegister() : port(&log), link_(port, log) {}

SerialUFPRegister::SerialUFPRegister(ByteChannel& channel, Pause pause)
    : port(&log), link_(channel, log, std::move(pause)) {}

bool SerialUFPRegister::Send(std::uint8_t command, std::string_view data, std::string_view name,
                             LogCode logCode) {
    link_.Exchange(command, accessCode, data, &replyData, lastError);
    if (lastError == 0) return true;
    if (logCode == LogCode::yes) {
        WriteLog(std::string(name) + ":lastError=" + std::to_string(lastError));
    }
    health.RecordPrinterError(lastError, std::string(name), PrinterErrorOnCommand(lastError, name),
                              LinkCodeMeansSilent(lastError));
    return false;
}

// The printer may have done the command or not; either way the receipt cannot be answered as
// printed. Closing it anyway would print what the till must sell again, so nothing more of it
// goes out: the printer keeps it open, and the driver remembers that until the printer shows
// otherwise.
bool SerialUFPRegister::SendSaleCommand(std::uint8_t command, std::string_view data,
                                        std::string_view name, LogCode logCode) {
    if (Send(command, data, name, logCode)) return true;
    if (state != ReceiptState::selling) {
        failureReason = PrinterErrorText(lastError, name);
        return false;
    }
    failureReason = PrinterErrorText(lastError, name) + std::string(kReceiptAbandonedNote);
    AbandonReceipt(PrinterErrorOnCommand(lastError, name));
    return false;
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
    // Only a frame that could not be written stops them; the printer's codes are logged.
    if (!Send(printer::kReadParameters, {}, "RcvPrinterPar") && lastError == kLinkWriteFailed) {
        return;
    }
    if (!Send(printer::kSoftwareVersion, {}, "SofVer") && lastError == kLinkWriteFailed) return;
    link_.pause()(kPauseAfterHandshake);
    handshakeDone = true;
}

bool SerialUFPRegister::BeginSell() {
    if (state != ReceiptState::ready && state != ReceiptState::afterSell) {
        WriteLog("BeginSell: Status not ready or afterSell");
        return false;
    }
    if (!handshakeDone) Handshake();
    // The printer queries are not part of the receipt; it starts with its open command, which
    // may leave it open on the printer even when it fails.
    state = ReceiptState::selling;
    soldTotal = 0.0;
    paidTotal = 0.0;
    receiptOpenedAt_ = std::chrono::system_clock::now();
    openConfirmed_ = false;
    // Written before the open goes out: a crash from here on leaves a receipt on the printer.
    if (!health.unfinishedReceipt) SaveUnfinished({receiptOpenedAt_, {}});
    if (!SendSaleCommand(printer::kOpenReceipt, kOpenReceiptData, "BeginSell")) {
        NameUnfinishedReceipt();
        return false;
    }
    openConfirmed_ = true;
    if (health.unfinishedReceipt) {
        UnfinishedReceiptEnded("the printer opened a new receipt");
        SaveUnfinished({receiptOpenedAt_, {}});
    }
    return true;
}

void SerialUFPRegister::AbandonReceipt(std::string_view why) {
    if (state == ReceiptState::selling && !health.unfinishedReceipt) {
        if (openConfirmed_) {
            health.unfinishedReceipt = UnfinishedReceipt{receiptOpenedAt_, std::string(why)};
            SaveUnfinished(*health.unfinishedReceipt);
            WriteLog("The printer holds an unfinished receipt since " +
                     FormatUtcTimestamp(receiptOpenedAt_) + " (" + std::string(why) + ")");
        } else {
            // The printer refused or never answered the open: it holds nothing we know of.
            unfinishedFile_.Clear();
        }
    }
    VirtualRegister::AbandonReceipt(why);
}

void SerialUFPRegister::SaveUnfinished(const UnfinishedReceipt& receipt) {
    if (const platform::Error error = unfinishedFile_.Save(receipt); !error.ok()) {
        WriteLog(error.text());
    }
}

void SerialUFPRegister::UnfinishedReceiptEnded(std::string_view how) {
    if (!health.unfinishedReceipt) return;
    WriteLog("Unfinished receipt since " + FormatUtcTimestamp(health.unfinishedReceipt->since) +
             " ended: " + std::string(how));
    health.unfinishedReceipt.reset();
    if (state != ReceiptState::selling) unfinishedFile_.Clear();
}

void SerialUFPRegister::NameUnfinishedReceipt() {
    if (!health.unfinishedReceipt) return;
    const std::string text = UnfinishedReceiptText(*health.unfinishedReceipt);
    failureReason = failureReason.empty() ? text : failureReason + "; " + text;
}

bool SerialUFPRegister::ResetAfterSell() {
    if (!health.unfinishedReceipt) return true;
    failureReason.clear();
    NameUnfinishedReceipt();
    return false;
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
    // An item the printer did not take is not sold; outside a receipt it answers for its own
    // codes as well, since no close would.
    if (!SendSaleCommand(printer::kProgramItem, itemData, "ProgItem")) return false;
    const std::string saleData = itemCode + ";" + FormatFixed(quantity, kQuantityDecimals) + ";" +
                                 FormatFixed(price, kPriceDecimals) + ";";
    return SendSaleCommand(printer::kSellItem, saleData, "SellItem");
}

bool SerialUFPRegister::PrintText(std::string_view piece1, std::string_view piece2,
                                  std::string_view piece3, std::string_view /*piece4*/,
                                  std::string_view /*piece5*/) {
    if (IsCommandDisabled('P')) return true;
    const std::array<std::string_view, kPrintedTextPieces> pieces{piece1, piece2, piece3};
    std::string data;
    for (const std::string_view piece : pieces) data += PrintTextPiece(piece);
    data += ';';
    if (state != ReceiptState::selling) {
        failureReason = kNoReceiptOpenReason;
        return false;
    }
    // Error codes of this command are not logged; they still end the receipt.
    return SendSaleCommand(printer::kPrintText, data, "PrintText", LogCode::no);
}

bool SerialUFPRegister::Payment(int paymentType, double amount) {
    if (IsCommandDisabled('T')) return SkipDisabledPayment(amount);
    if (state != ReceiptState::selling) {
        failureReason = kNoReceiptOpenReason;
        return false;
    }
    if (!totalDisplayed) {
        if (!SendSaleCommand(printer::kDisplayTotal, kDisplayTotalData, "DisplayTotal")) {
            return false;
        }
        totalDisplayed = true;
    }
    paidTotal += amount;
    const std::string data =
        std::to_string(paymentType) + ";" + FormatFixed(amount, kAmountDecimals) + ";";
    return SendSaleCommand(printer::kPayment, data, "Payment");
}

// Every command of the receipt before this one ended with 0, or the receipt would no longer be
// open.
bool SerialUFPRegister::CloseReceipt(std::string* message) {
    if (state != ReceiptState::selling) return false;
    // Refused totals send nothing: the driver is ready for the next receipt.
    if (const platform::Error refused = CheckTotalsForClose(); !refused.ok()) {
        if (message != nullptr) *message = refused.text();
        return false;
    }
    if (!SendSaleCommand(printer::kCloseReceipt, kCloseReceiptData, "CloseReceipt")) {
        if (message != nullptr) *message = failureReason;
        return false;
    }
    state = ReceiptState::afterSell;
    unfinishedFile_.Clear();
    return true;
}

// The report answers for its own command only; a receipt left open stays as it is.
bool SerialUFPRegister::DailyReport(std::string_view data, std::string_view logName) {
    if (Send(printer::kDailyReport, data, logName)) {
        UnfinishedReceiptEnded("the printer printed a report");
        return true;
    }
    failureReason = PrinterErrorText(lastError, logName);
    NameUnfinishedReceipt();
    return false;
}

bool SerialUFPRegister::DailyReportsZ() {
    return DailyReport(kZReportData, "DailyReportsZ");
}

bool SerialUFPRegister::DailyReportsX() {
    return DailyReport(kXReportData, "DailyReportsX");
}

bool SerialUFPRegister::LoadDriverSettings(const INILoader& configuration) {
    std::string value;
    if (configuration.GetValue(value, kBaudRateKey)) baudRate = ParseDecimalInt(value);
    link_.SetSequenceNumber(link::kFirstSequence);
    lineSettings = {baudRate, byteSize, parity, stopBits};
    if (!configuration.GetValue(portName, kPortKey)) portName = kDefaultPortName;
    findPort = EqualsIgnoringCase(portName, kAutoPortName);
    if (findPort) {
        std::string candidates;
        configuration.GetValue(candidates, kPortCandidatesKey);
        portCandidates = SplitPortCandidates(candidates);
        if (portCandidates.empty()) portCandidates = platform::SystemSerialPortPatterns();
    }

    unfinishedFile_.SetPlace(log.path());
    if (std::optional<UnfinishedReceipt> left = unfinishedFile_.Load()) {
        // A receipt still being built when the service last wrote the file went with it.
        if (left->reason.empty()) left->reason = "the service stopped before it was finished";
        WriteLog("The printer holds an unfinished receipt since " +
                 FormatUtcTimestamp(left->since) + " (" + left->reason + ")");
        SaveUnfinished(*left);
        health.unfinishedReceipt = std::move(left);
    }

    settingsLoaded_ = true;
    const platform::Error opened = OpenPort();
    if (!opened.ok()) {
        WriteLog(findPort ? opened.text() : PortOpenFailureText(portName, opened));
        // Line settings the port refuses would be refused again: the driver stays
        // unconfigured. A missing or busy port is tried again by the next request.
        if (opened.valueRefused()) {
            settingsLoaded_ = false;
            return false;
        }
    }
    state = ReceiptState::ready;
    return true;
}

platform::Error SerialUFPRegister::OpenPort() {
    handshakeDone = false;
    if (findPort) {
        const std::vector<std::string> names = ExpandPortCandidates(portCandidates);
        if (FindPrinterPort(port, names, lineSettings, accessCode, probeBackoff_)) {
            WriteLog("Printer found on " + port.portName);
            return {};
        }
        if (!port.lostAt) port.lostAt = std::chrono::system_clock::now();
        return platform::Error::Message("no printer answered on " +
                                        JoinNames(names.empty() ? portCandidates : names));
    }
    return port.Open(portName, lineSettings);
}

bool SerialUFPRegister::ConnectPrinter() {
    if (!settingsLoaded_ || port.CheckLine()) return true;
    // Whatever the printer held of a receipt went with the line.
    AbandonReceipt("the printer's port was lost");
    const platform::Error opened = OpenPort();
    if (opened.ok()) return true;
    return Refuse(findPort
                      ? opened.text()
                      : opened.Within("printer port " + portName + " cannot be opened").text());
}

PortHealth SerialUFPRegister::Port() const {
    PortHealth health;
    health.name = portName;
    health.open = port.isOpen;
    if (port.isOpen) health.inUse = port.portName;
    health.lostAt = port.lostAt;
    health.losses = port.losses;
    return health;
}

}  // namespace tillvane
