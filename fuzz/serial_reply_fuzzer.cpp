// Any bytes from the printer: read as the replies of one exchange after another, and as the
// replies to a whole receipt and a report. Every exchange ends, and what it hands on stays
// within the reply's bounds.

#include <cstdint>
#include <optional>
#include <string>

#include "commands/command_interpreter.h"
#include "fuzz/fuzz_support.h"
#include "registers/serial/byte_channel.h"
#include "registers/serial/link_frame.h"
#include "registers/serial/serial_link.h"
#include "registers/serial/serial_ufp_register.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;

namespace {

// Hands out the input byte by byte; once it is used up every read times out.
class InputChannel : public ByteChannel {
  public:
    explicit InputChannel(std::string_view input) : input_(input) {}

    platform::Error Write(std::string_view /*bytes*/) override { return {}; }
    std::optional<char> ReadByte() override {
        if (input_.empty()) return std::nullopt;
        const char byte = input_.front();
        input_.remove_prefix(1);
        return byte;
    }
    // Kept: a real port may have nothing waiting when the reply starts to arrive.
    void DiscardInput() override {}
    bool exhausted() const { return input_.empty(); }

  private:
    std::string_view input_;
};

void NoPause(std::chrono::milliseconds) {}

// The error field holds four characters: a sign and three digits at the lowest.
constexpr int kLowestErrorCode = -999;

void CheckLinkExchanges(std::string_view input) {
    InputChannel channel(input);
    const RegisterLog noLog;
    SerialLink link(channel, noLog, NoPause);
    std::string replyData;
    // Each exchange takes at least one byte or ends the input with a time-out.
    while (!channel.exhausted()) {
        int lastError = 0;
        if (!link.Exchange(0x30, "482917", "data", &replyData, lastError)) {
            Violated("a frame that fits was not written");
        }
        if (replyData.size() > kLastReplyDataEndOffset) Violated("reply data over its window");
        if (lastError < kLowestErrorCode || lastError > link::kMaxReplyErrorCode) {
            Violated("error code outside the field's range");
        }
    }
    ParseReply(input, input.size());
    ParseReply(input, input.find(link::kReplyDataEnd));
}

void CheckReceipt(std::string_view input) {
    InputChannel channel(input);
    SerialUFPRegister driver(channel, NoPause);
    driver.vatGroups = {{"A", "1"}, {"B", "2"}};
    driver.state = ReceiptState::ready;
    const Result<std::string> receipt =
        ExecuteCommandText("BS|SI^Apa^2.50^2^A|PT^text|AP^0^5.00|ES", false, &driver);
    if (ReplyTextOf(receipt).size() >= kReplyTextCapacity) Violated("reply over its bound");
    const Result<std::string> report = ExecuteCommandText("ZR", false, &driver);
    if (ReplyTextOf(report).size() >= kReplyTextCapacity) Violated("report reply over its bound");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzzing::AsText(data, size);
    CheckLinkExchanges(input);
    CheckReceipt(input);
    return 0;
}
