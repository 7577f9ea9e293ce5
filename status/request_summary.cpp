#include "status/request_summary.h"

#include <optional>
#include <vector>

#include "base/numbers.h"
#include "commands/command_lines.h"

namespace tillvane {

namespace {

using commands::Command;

constexpr int kTotalDecimals = 2;

// The field `index` (0: the code) of one line.
std::string_view Field(std::string_view line, std::size_t index) {
    for (std::size_t i = 0; i < index; ++i) {
        const std::size_t next = line.find(commands::kFieldSeparator);
        if (next == std::string_view::npos) return {};
        line.remove_prefix(next + 1);
    }
    return line.substr(0, line.find(commands::kFieldSeparator));
}

struct ReceiptFigures {
    int items = 0;
    double sold = 0.0;
    bool soldKnown = true;  // false once a price or quantity does not read
    bool discount = false;
};

void AddKind(std::string& summary, std::string_view kind) {
    if (summary.find(kind) != std::string::npos) return;
    if (!summary.empty()) summary += " + ";
    summary += kind;
}

}  // namespace

std::string SummariseCommandText(std::string_view text) {
    ReceiptFigures receipt;
    bool isReceipt = false;
    std::string others;
    for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1) {
        end = text.find(commands::kLineSeparator, start);
        const std::string_view line =
            text.substr(start, end == std::string_view::npos ? end : end - start);
        switch (commands::FindCommand(Field(line, 0))) {
            case Command::kBeginSell:
            case Command::kCloseReceipt:
            case Command::kPayment:
                isReceipt = true;
                break;
            case Command::kSellItem: {
                isReceipt = true;
                ++receipt.items;
                const auto price = ParsePlainDecimal(Field(line, 2));
                const auto quantity = ParsePlainDecimal(Field(line, 3));
                if (price && quantity) {
                    receipt.sold += *price * *quantity;
                } else {
                    receipt.soldKnown = false;
                }
                break;
            }
            case Command::kDiscount:
                receipt.discount = true;
                break;
            case Command::kReportZ:
                AddKind(others, "Z report");
                break;
            case Command::kReportX:
                AddKind(others, "X report");
                break;
            case Command::kReceiptDuplicate:
                AddKind(others, "Duplicate");
                break;
            case Command::kResetAfterSell:
                AddKind(others, "Receipt reset");
                break;
            case Command::kCashInOut:
                AddKind(others, "Cash in/out");
                break;
            default:
                break;
        }
    }
    std::string summary;
    if (isReceipt) {
        summary =
            "Receipt, " + std::to_string(receipt.items) + (receipt.items == 1 ? " item" : " items");
        if (receipt.soldKnown) summary += ", " + FormatFixed(receipt.sold, kTotalDecimals);
        if (receipt.discount) summary += ", with discount";
    }
    if (!others.empty()) AddKind(summary, others);
    if (text.empty()) return "empty text";
    if (summary.empty()) return std::string(text.substr(0, text.find(commands::kLineSeparator)));
    return summary;
}

}  // namespace tillvane
