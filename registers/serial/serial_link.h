#pragma once
// The request/reply link to the fiscal printer: one framed command out, one reply in, the
// reply's error code and data taken out of it. No queue, no resending.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "registers/register_log.h"
#include "registers/serial/byte_channel.h"

namespace tillvane {

// Error codes the link itself leaves in lastError; any other code is the printer's own.
inline constexpr int kLinkWriteFailed = -1;  // the frame was not written (or could not be built)
inline constexpr int kLinkReplyTooLong = 9996;
inline constexpr int kLinkNak = 9997;
inline constexpr int kLinkEmptyResponse = 9998;
inline constexpr int kLinkSilent = 9999;

// Codes of a printer that did not answer at all, as opposed to one that answered with an error.
inline bool LinkCodeMeansSilent(int code) {
    return code == kLinkSilent || code == kLinkEmptyResponse || code == kLinkWriteFailed;
}

// Receive buffer of a reply, its terminator included: up to 2047 bytes from the 0x01 to the
// byte before the 0x03 are kept.
inline constexpr std::size_t kReplyBufferSize = 2048;
// A reply whose 0x04 stands outside these offsets delivers no data.
inline constexpr std::size_t kFirstReplyDataEndOffset = 10;
inline constexpr std::size_t kLastReplyDataEndOffset = 127;
// Reads in a row that bring no byte before the printer counts as silent.
inline constexpr int kMaxFailedReads = 3;
// A printer that never stops sending is given up after this many bytes in one exchange.
inline constexpr std::size_t kMaxReplyBytesRead = 16 * kReplyBufferSize;

inline constexpr std::chrono::milliseconds kPauseAfterExchange{100};
inline constexpr std::chrono::milliseconds kPauseAfterNak{200};

// How the link waits between commands; tests replace the real sleep.
using Pause = std::function<void(std::chrono::milliseconds)>;
void SleepFor(std::chrono::milliseconds duration);

// What a received reply (from its 0x01 up to, not including, the 0x03) says.
struct ParsedReply {
    int sequence = 0;   // the echo at offset 2, read as a signed byte
    int errorCode = 0;  // the decimal number of the error field
    std::string data;   // from offset 9 up to the 0x04, when the 0x04 stands in its window
};

// `dataEnd` is the offset of the reply's last 0x04 byte, if it had one.
ParsedReply ParseReply(std::string_view reply, std::optional<std::size_t> dataEnd);

class SerialLink {
  public:
    // `log` is the register log; both references must outlive the link.
    SerialLink(ByteChannel& channel, const RegisterLog& log, Pause pause = SleepFor);

    // Sends `command` with `accessCode` and `data`, and reads the reply into `replyData`
    // unless it is null. False only when the frame was not written (lastError -1); every
    // other outcome, an error of the printer or a silent printer included, is left in
    // `lastError` and gives true.
    bool Exchange(std::uint8_t command, std::string_view accessCode, std::string_view data,
                  std::string* replyData, int& lastError);

    int sequenceNumber() const { return sequenceNumber_; }
    void SetSequenceNumber(int sequence) { sequenceNumber_ = sequence; }
    const Pause& pause() const { return pause_; }

  private:
    enum class ReadOutcome { complete, nak, silent };

    // Reads bytes up to the reply's 0x03; the received bytes go to `reply`.
    ReadOutcome ReadReply(std::string& reply, std::optional<std::size_t>& dataEnd,
                          std::size_t& dropped);
    void Advance(std::chrono::milliseconds pause);

    ByteChannel& channel_;
    const RegisterLog& log_;
    Pause pause_;
    int sequenceNumber_ = 0x20;
    // The sequence of the last command sent without reading its reply: a slow printer may
    // still send that reply after the next command went out.
    std::optional<int> owedReplySequence_;
};

}  // namespace tillvane
