#pragma once
// A driver for interpreter tests: records every call with its arguments as one text, e.g.
// "SellItem(Apa,2.5,2,A,1,1)", and answers with configurable results. It keeps the receipt
// state as a driver does: BeginSell opens a receipt (and refuses while one is open),
// CloseReceipt closes it, AbandonReceipt drops it.

#include <charconv>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "registers/virtual_register.h"

namespace tillvane::testing {

class RecordingRegister : public VirtualRegister {
  public:
    std::vector<std::string> calls;
    std::set<std::string, std::less<>> failing;  // names of operations that return false
    std::string closeMessage;                    // what CloseReceipt writes into its message
    std::string reason;                          // the failureReason a failing operation leaves

    RecordingRegister() { state = ReceiptState::ready; }

    bool CommandH() override { return Record("CommandH"); }
    bool CommandF() override { return Record("CommandF"); }
    bool BeginSell() override {
        const bool begun = Record("BeginSell") && state != ReceiptState::selling;
        if (begun) state = ReceiptState::selling;
        return begun;
    }
    bool CloseReceipt(std::string* message) override {
        if (message == nullptr) return Record("CloseReceipt", "null");
        if (!closeMessage.empty()) *message = closeMessage;
        const bool closed = Record("CloseReceipt");
        if (closed) state = ReceiptState::afterSell;
        return closed;
    }
    void AbandonReceipt(std::string_view why) override {
        calls.push_back("AbandonReceipt(" + std::string(why) + ")");
        state = ReceiptState::ready;
    }
    bool ResetAfterSell() override { return Record("ResetAfterSell"); }
    bool PrintText(std::string_view piece1, std::string_view piece2, std::string_view piece3,
                   std::string_view piece4, std::string_view piece5) override {
        return Record("PrintText", Join({piece1, piece2, piece3, piece4, piece5}));
    }
    bool Payment(int paymentType, double amount) override {
        return Record("Payment", std::to_string(paymentType) + "," + Number(amount));
    }
    bool CommandN() override { return Record("CommandN"); }
    bool Discount(float percent) override { return Record("Discount", Number(percent)); }
    bool CashInOut(double amount) override { return Record("CashInOut", Number(amount)); }
    bool ReceiptDuplicate() override { return Record("ReceiptDuplicate"); }
    bool DailyReportsZ() override { return Record("DailyReportsZ"); }
    bool DailyReportsX() override { return Record("DailyReportsX"); }
    bool SellItem(std::string& name, double price, double quantity, std::string_view vatGroup,
                  char itemGroup, int number) override {
        return Record("SellItem", Join({name, Number(price), Number(quantity), vatGroup,
                                        std::string_view(&itemGroup, 1), std::to_string(number)}));
    }

  private:
    // Shortest text that reads back as the same number, independent of the locale.
    static std::string Number(double value) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, value).ptr;
        return std::string(text, end);
    }

    static std::string Join(std::initializer_list<std::string_view> parts) {
        std::string joined;
        for (auto part = parts.begin(); part != parts.end(); ++part) {
            if (part != parts.begin()) joined += ',';
            joined += *part;
        }
        return joined;
    }

    bool Record(std::string_view operation, std::string_view arguments = {}) {
        std::string call(operation);
        if (!arguments.empty()) call.append("(").append(arguments).append(")");
        calls.push_back(std::move(call));
        if (!failing.contains(operation)) return true;
        failureReason = reason;
        return false;
    }
};

}  // namespace tillvane::testing
