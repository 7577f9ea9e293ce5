#include "tools/printer_simulator/fiscal_printer.h"

#include <cmath>
#include <vector>

#include "base/numbers.h"
#include "registers/serial/printer_commands.h"

namespace tillvane::simulator {

namespace {

constexpr std::string_view kParametersData = "1;0;1;";
constexpr std::string_view kVersionData = "Tillvane printer simulator 1.0";
constexpr int kCentsDecimals = 2;
constexpr double kCentsPerUnit = 100.0;

// The ";"-separated fields of a command's data; a closing ";" gives no empty last field.
std::vector<std::string_view> Fields(std::string_view data) {
    std::vector<std::string_view> fields;
    while (!data.empty()) {
        const std::size_t end = data.find(';');
        fields.push_back(data.substr(0, end));
        if (end == std::string_view::npos) break;
        data.remove_prefix(end + 1);
    }
    return fields;
}

long long ToCents(double value) {
    return std::llround(value * kCentsPerUnit);
}

std::string FromCents(long long cents) {
    return FormatFixed(static_cast<double>(cents) / kCentsPerUnit, kCentsDecimals);
}

std::string HexCode(std::uint8_t command) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return {'0', 'x', kDigits[command >> 4], kDigits[command & 0x0F]};
}

PrinterAnswer Done(std::string journalLine, std::string data = {}) {
    return {true, 0, std::move(data), std::move(journalLine)};
}

PrinterAnswer Refused(std::uint8_t command, int errorCode, std::string_view reason) {
    return {true,
            errorCode,
            {},
            "REFUSED " + HexCode(command) + " " + std::to_string(errorCode) + " " +
                std::string(reason)};
}

}  // namespace

PrinterAnswer FiscalPrinter::Handle(std::uint8_t command, std::string_view data) {
    switch (command) {
        case printer::kSetup:
            return {false, 0, {}, "SETUP " + std::string(data)};
        case printer::kReadParameters:
            return Done("READ PARAMETERS", std::string(kParametersData));
        case printer::kSoftwareVersion:
            return Done("SOFTWARE VERSION", std::string(kVersionData));
        case printer::kOpenReceipt:
            return OpenReceipt();
        case printer::kProgramItem:
            return ProgramItem(data);
        case printer::kSellItem:
            return SellItem(data);
        case printer::kPrintText:
            return PrintText(data);
        case printer::kDisplayTotal:
            return DisplayTotal();
        case printer::kPayment:
            return Payment(data);
        case printer::kCloseReceipt:
            return CloseReceipt();
        case printer::kDailyReport:
            return DailyReport(data);
        default:
            return Refused(command, kUnknownCommand, "unknown command");
    }
}

std::string FiscalPrinter::StatusBytes() const {
    std::string status(kStatusByteCount, static_cast<char>(kStatusByteBase));
    if (receiptOpen_) {
        status[kReceiptOpenStatusByte] = static_cast<char>(kStatusByteBase | kReceiptOpenFlag);
    }
    return status;
}

std::string FiscalPrinter::CancelAtKeys() {
    if (!receiptOpen_) return {};
    receiptOpen_ = false;
    return "RECEIPT CANCELLED AT THE KEYS";
}

// A receipt left unfinished (the till's service gave it up without closing it) stays open: a
// new one cannot begin, nor a report, until the cashier finishes or cancels it at the keys.
PrinterAnswer FiscalPrinter::OpenReceipt() {
    if (receiptOpen_) {
        return Refused(printer::kOpenReceipt, kReceiptAlreadyOpen, "a receipt is open already");
    }
    receiptOpen_ = true;
    itemsSold_ = paymentsMade_ = 0;
    soldCents_ = paidCents_ = 0;
    return Done("OPEN RECEIPT");
}

PrinterAnswer FiscalPrinter::ProgramItem(std::string_view data) {
    const std::vector<std::string_view> fields = Fields(data);
    if (fields.size() < 3 || fields[0].empty()) {
        return Refused(printer::kProgramItem, kBadData, "expected code;name;vat;...");
    }
    items_[std::string(fields[0])] = {std::string(fields[1]), std::string(fields[2])};
    return Done("ITEM " + std::string(fields[0]) + " " + std::string(fields[1]) + " VAT " +
                std::string(fields[2]));
}

PrinterAnswer FiscalPrinter::SellItem(std::string_view data) {
    if (!receiptOpen_) return Refused(printer::kSellItem, kNoReceiptOpen, "no receipt open");
    const std::vector<std::string_view> fields = Fields(data);
    if (fields.size() < 3)
        return Refused(printer::kSellItem, kBadData, "expected code;quantity;price;");
    const auto item = items_.find(fields[0]);
    if (item == items_.end())
        return Refused(printer::kSellItem, kUnknownItem, "item not programmed");
    const double quantity = ParseDecimalDouble(fields[1]);
    const double price = ParseDecimalDouble(fields[2]);
    ++itemsSold_;
    soldCents_ += ToCents(quantity * price);
    return Done("SALE " + std::string(fields[0]) + " " + item->second.name + " " +
                std::string(fields[1]) + " x " + std::string(fields[2]));
}

PrinterAnswer FiscalPrinter::PrintText(std::string_view data) {
    if (!receiptOpen_) return Refused(printer::kPrintText, kNoReceiptOpen, "no receipt open");
    if (!data.empty() && data.back() == ';') data.remove_suffix(1);
    return Done("TEXT " + std::string(data));
}

PrinterAnswer FiscalPrinter::DisplayTotal() {
    if (!receiptOpen_) return Refused(printer::kDisplayTotal, kNoReceiptOpen, "no receipt open");
    if (itemsSold_ == 0) return Refused(printer::kDisplayTotal, kNoItemSold, "no item sold");
    return Done("SUBTOTAL " + FromCents(soldCents_));
}

PrinterAnswer FiscalPrinter::Payment(std::string_view data) {
    if (!receiptOpen_) return Refused(printer::kPayment, kNoReceiptOpen, "no receipt open");
    if (itemsSold_ == 0) return Refused(printer::kPayment, kNoItemSold, "payment before any item");
    const std::vector<std::string_view> fields = Fields(data);
    if (fields.size() < 2) return Refused(printer::kPayment, kBadData, "expected type;amount;");
    ++paymentsMade_;
    paidCents_ += ToCents(ParseDecimalDouble(fields[1]));
    return Done("PAYMENT " + std::string(fields[0]) + " " + std::string(fields[1]));
}

PrinterAnswer FiscalPrinter::CloseReceipt() {
    if (!receiptOpen_) return Refused(printer::kCloseReceipt, kNoReceiptOpen, "no receipt open");
    if (paymentsMade_ == 0 || paidCents_ < soldCents_) {
        return Refused(printer::kCloseReceipt, kNotPaidInFull, "receipt not paid in full");
    }
    receiptOpen_ = false;
    ++receiptsToday_;
    dayTotalCents_ += soldCents_;
    return Done("CLOSE RECEIPT TOTAL " + FromCents(soldCents_) + " PAID " + FromCents(paidCents_) +
                " CHANGE " + FromCents(paidCents_ - soldCents_));
}

PrinterAnswer FiscalPrinter::DailyReport(std::string_view data) {
    const std::vector<std::string_view> fields = Fields(data);
    const bool zReport = !fields.empty() && fields[0] == "0";
    const bool xReport = !fields.empty() && fields[0] == "1";
    if (!zReport && !xReport) return Refused(printer::kDailyReport, kBadData, "expected 0; or 1;");
    if (receiptOpen_) {
        return Refused(printer::kDailyReport, kReceiptOpenForReport,
                       "report while a receipt is open");
    }
    std::string line = std::string(zReport ? "Z" : "X") + " REPORT RECEIPTS " +
                       std::to_string(receiptsToday_) + " TOTAL " + FromCents(dayTotalCents_);
    if (zReport) {
        receiptsToday_ = 0;
        dayTotalCents_ = 0;
    }
    return Done(std::move(line));
}

}  // namespace tillvane::simulator
