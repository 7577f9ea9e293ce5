// Any command text against a driver that records its calls and fails the operations the input
// picks: the reply stays within its bound, no figure reaches the driver that a till did not
// write as a plain number, and a failed text never leaves its own receipt open.

#include <cmath>
#include <cstdint>
#include <string>

#include "base/numbers.h"
#include "commands/command_interpreter.h"
#include "fuzz/fuzz_support.h"
#include "tests/commands/recording_register.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;

namespace {

void CheckFigure(double value) {
    if (!std::isfinite(value) || std::fabs(value) > kMaxReceiptNumber) {
        Violated("a figure no till wrote reached the driver");
    }
}

class CheckingRegister : public testing::RecordingRegister {
  public:
    bool SellItem(std::string& name, double price, double quantity, std::string_view vatGroup,
                  char itemGroup, int number) override {
        CheckFigure(price);
        CheckFigure(quantity);
        return RecordingRegister::SellItem(name, price, quantity, vatGroup, itemGroup, number);
    }
    bool Payment(int paymentType, double amount) override {
        CheckFigure(amount);
        return RecordingRegister::Payment(paymentType, amount);
    }
    bool Discount(float percent) override {
        CheckFigure(percent);
        return RecordingRegister::Discount(percent);
    }
    bool CashInOut(double amount) override {
        CheckFigure(amount);
        return RecordingRegister::CashInOut(amount);
    }
};

// Input: one byte of switches, then the command text.
enum Switch : std::uint8_t {
    kHexNames = 1 << 0,
    kReceiptOpenBefore = 1 << 1,
    kLongCloseMessage = 1 << 2,
    kBeginSellFails = 1 << 3,
    kSellItemFails = 1 << 4,
    kPaymentFails = 1 << 5,
    kCloseReceiptFails = 1 << 6,
    kPrintTextFails = 1 << 7,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t switches = data[0];
    const std::string_view text = fuzzing::AsText(data + 1, size - 1);

    CheckingRegister driver;
    if (switches & kReceiptOpenBefore) driver.state = ReceiptState::selling;
    if (switches & kLongCloseMessage) driver.closeMessage.assign(2 * kReplyTextCapacity, 'm');
    driver.reason = "refused by the driver";
    const std::pair<Switch, const char*> failures[] = {
        {kBeginSellFails, "BeginSell"},   {kSellItemFails, "SellItem"},
        {kPaymentFails, "Payment"},       {kCloseReceiptFails, "CloseReceipt"},
        {kPrintTextFails, "PrintText"},   {kPrintTextFails, "DailyReportsZ"},
        {kPaymentFails, "DailyReportsX"}, {kSellItemFails, "Discount"},
        {kPaymentFails, "CashInOut"},
    };
    for (const auto& [bit, operation] : failures) {
        if (switches & bit) driver.failing.insert(operation);
    }

    const Result<std::string> run = ExecuteCommandText(text, switches & kHexNames, &driver);
    const bool succeeded = run.ok();
    const std::string& reply = ReplyTextOf(run);
    if (reply.size() >= kReplyTextCapacity) Violated("reply over its bound");
    if (!succeeded && reply.empty()) Violated("a failure without a reason");
    bool begun = false;
    for (const std::string& call : driver.calls) begun = begun || call == "BeginSell";
    if (!succeeded && begun && driver.state == ReceiptState::selling) {
        Violated("a failed text left the receipt it began open");
    }

    // Without a driver nothing may pretend to have printed.
    const Result<std::string> withoutDriver =
        ExecuteCommandText(text, switches & kHexNames, nullptr);
    if (ReplyTextOf(withoutDriver).size() >= kReplyTextCapacity)
        Violated("reply over its bound without a driver");
    return 0;
}
