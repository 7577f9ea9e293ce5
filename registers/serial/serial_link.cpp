#include "registers/serial/serial_link.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "base/numbers.h"
#include "registers/serial/link_frame.h"

namespace tillvane {

namespace {

// A frame is text: it can carry no 0x00 byte, and a control byte inside the data (0x01 to
// 0x05 delimit the frame) could make the printer see a frame end where there is none.
// NUL bytes are dropped and the other control bytes become blanks.
std::string FrameText(std::string_view text) {
    constexpr char kFirstPrintable = 0x20;
    std::string result(text);
    std::erase(result, '\0');
    std::replace_if(
        result.begin(), result.end(), [](char c) { return c > 0 && c < kFirstPrintable; }, ' ');
    return result;
}

std::string HexByte(std::uint8_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return {'0', 'x', kDigits[value >> 4], kDigits[value & 0x0F]};
}

}  // namespace

void SleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

ParsedReply ParseReply(std::string_view reply, std::optional<std::size_t> dataEnd) {
    ParsedReply parsed;
    if (reply.size() > link::kReplySequenceOffset) {
        parsed.sequence = static_cast<signed char>(reply[link::kReplySequenceOffset]);
    }
    if (reply.size() > link::kReplyErrorOffset) {
        parsed.errorCode =
            ParseDecimalInt(reply.substr(link::kReplyErrorOffset, link::kReplyErrorDigits));
    }
    if (dataEnd && *dataEnd >= kFirstReplyDataEndOffset && *dataEnd <= kLastReplyDataEndOffset &&
        *dataEnd <= reply.size()) {
        parsed.data = reply.substr(link::kReplyDataOffset, *dataEnd - link::kReplyDataOffset);
    }
    return parsed;
}

SerialLink::SerialLink(ByteChannel& channel, const RegisterLog& log, Pause pause)
    : channel_(channel), log_(log), pause_(std::move(pause)) {}

bool SerialLink::Exchange(std::uint8_t command, std::string_view accessCode, std::string_view data,
                          std::string* replyData, int& lastError) {
    if (replyData != nullptr) replyData->clear();
    const std::string code = FrameText(accessCode);
    const std::string text = FrameText(data);
    if (code.size() + text.size() > link::kMaxRequestText) {
        // A longer text would overflow LEN and reach the printer as a broken frame.
        log_.Write("Frame too long for command " + HexByte(command) + ": " +
                   std::to_string(code.size() + text.size()) + " bytes of access code and data");
        lastError = kLinkWriteFailed;
        return false;
    }

    // Whatever waits in the input (a late reply, an answer to a command sent without reading
    // one) belongs to an earlier exchange, not to this one.
    channel_.DiscardInput();
    if (!channel_.Write(link::BuildRequestFrame(sequenceNumber_, command, code, text)).ok()) {
        lastError = kLinkWriteFailed;
        return false;
    }
    if (replyData == nullptr) {
        owedReplySequence_ = sequenceNumber_;
        Advance(kPauseAfterExchange);
        return true;
    }
    const std::optional<int> owed = std::exchange(owedReplySequence_, std::nullopt);

    std::string reply;
    std::optional<std::size_t> dataEnd;
    std::size_t dropped = 0;
    ReadOutcome outcome = ReadReply(reply, dataEnd, dropped);
    if (outcome == ReadOutcome::complete && owed && *owed != sequenceNumber_ &&
        ParseReply(reply, dataEnd).sequence == *owed) {
        // The late answer to the command sent without reading one, not this command's.
        log_.Write("Late reply to an earlier command skipped: seq[" + std::to_string(*owed) + "]");
        reply.clear();
        dataEnd.reset();
        dropped = 0;
        outcome = ReadReply(reply, dataEnd, dropped);
    }
    switch (outcome) {
        case ReadOutcome::silent:
            log_.Write("failCount!=0");
            lastError = kLinkSilent;
            return true;
        case ReadOutcome::nak:
            lastError = kLinkNak;
            Advance(kPauseAfterNak);
            return true;
        case ReadOutcome::complete:
            break;
    }
    if (reply.empty()) {
        lastError = kLinkEmptyResponse;
        log_.Write("Empty response");
        return true;
    }

    ParsedReply parsed = ParseReply(reply, dataEnd);
    if (parsed.sequence != sequenceNumber_) {
        // The reply as text: it ends at a 0x00 byte, if one came.
        const std::string_view shown(reply.c_str());
        log_.Write("block mismatch:seq[" + std::to_string(sequenceNumber_) + "]<>in_seq[" +
                   std::to_string(parsed.sequence) + "] in buffer[" + std::string(shown) + "]");
    }
    lastError = parsed.errorCode;
    *replyData = std::move(parsed.data);
    if (dropped > 0) {
        log_.Write("Reply too long: " + std::to_string(dropped) +
                   " bytes past the receive buffer dropped");
        lastError = kLinkReplyTooLong;
    }
    Advance(kPauseAfterExchange);
    return true;
}

SerialLink::ReadOutcome SerialLink::ReadReply(std::string& reply,
                                              std::optional<std::size_t>& dataEnd,
                                              std::size_t& dropped) {
    constexpr std::size_t kMaxStored = kReplyBufferSize - 1;
    int failedReads = 0;
    std::size_t bytesRead = 0;
    // Offset of the next byte in the reply; it runs on past the buffer when bytes are dropped.
    std::size_t offset = 0;
    while (true) {
        const std::optional<char> byte = channel_.ReadByte();
        if (!byte) {
            if (++failedReads >= kMaxFailedReads) return ReadOutcome::silent;
            continue;
        }
        failedReads = 0;
        if (++bytesRead > kMaxReplyBytesRead) {
            ++dropped;
            return ReadOutcome::complete;
        }
        switch (*byte) {
            case link::kFrameStart:
                reply.assign(1, *byte);
                dataEnd.reset();
                dropped = 0;
                offset = 1;
                continue;
            case link::kNak:
                return ReadOutcome::nak;
            case link::kFrameEnd:
                return ReadOutcome::complete;
            case link::kReplyDataEnd:
                dataEnd = offset;
                break;
            default:
                break;
        }
        if (reply.size() < kMaxStored) {
            reply += *byte;
        } else {
            ++dropped;
        }
        ++offset;
    }
}

void SerialLink::Advance(std::chrono::milliseconds pause) {
    sequenceNumber_ = link::NextSequence(sequenceNumber_);
    pause_(pause);
}

}  // namespace tillvane
