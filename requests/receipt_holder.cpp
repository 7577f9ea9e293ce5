#include "requests/receipt_holder.h"

#include "commands/command_interpreter.h"
#include "registers/virtual_register.h"
#include "requests/replies.h"

namespace tillvane {

platform::Error ReceiptHolder::Admit(std::string_view till, std::string_view text,
                                     VirtualRegister& driver) {
    if (till.empty() || holder_.empty() || holder_ == till ||
        driver.state != ReceiptState::selling) {
        return {};
    }
    switch (UseOfOpenReceipt(text)) {
        case OpenReceiptUse::kNone:
            return {};
        case OpenReceiptUse::kOwnReceipt:
            driver.AbandonReceipt("till " + std::string(till) + " began its own while till " +
                                  holder_ + "'s was open");
            holder_.clear();
            return {};
        case OpenReceiptUse::kContinues:
            break;
    }
    return platform::Error::Message(std::string(kOtherTillsReceiptReply) + holder_ +
                                    std::string(kOtherTillsReceiptTail));
}

void ReceiptHolder::Settle(std::string_view till, const VirtualRegister& driver) {
    if (driver.state != ReceiptState::selling) {
        holder_.clear();
    } else if (holder_.empty()) {
        // Only the till that opened the receipt takes it: a text of another till that touched
        // nothing of it (unknown codes only, say) leaves it with its holder.
        holder_ = till;
    }
}

}  // namespace tillvane
