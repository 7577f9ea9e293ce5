#pragma once
// Frames of the fiscal printer's serial link, shared by the driver and the printer simulator.
//
// Request: 0x01 LEN SEQ CMD <access code> ";" <data> 0x05 <checksum: 4 bytes> 0x03
// Reply:   0x01 LEN SEQ CMD <error: 4 digits> <separator> <data> 0x04 [<status> 0x05]
//          <checksum: 4 bytes> 0x03
//
// LEN is 0x20 plus the number of bytes from LEN itself up to and including the 0x05 (request,
// reply with status bytes) or 0x04 (reply without). The checksum is the sum of those same bytes
// modulo 65536, sent as four hexadecimal digits, most significant first, each digit v as the byte
// 0x30 + v.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tillvane::link {

inline constexpr char kFrameStart = 0x01;
inline constexpr char kReplyDataEnd = 0x04;
inline constexpr char kRequestDataEnd = 0x05;
inline constexpr char kFrameEnd = 0x03;
inline constexpr char kNak = 0x15;
inline constexpr char kAccessCodeSeparator = ';';
// Byte between a reply's error field and its data.
inline constexpr char kReplySeparator = ';';

inline constexpr int kLengthBase = 0x20;
inline constexpr int kMaxLengthByte = 0xFF;
// Bytes counted by LEN besides the access code and the data: LEN, SEQ, CMD, ";" and 0x05.
inline constexpr int kRequestFixedCounted = 5;
// Access code and data together: at most this many bytes, so that LEN stays within a byte.
inline constexpr std::size_t kMaxRequestText = kMaxLengthByte - kLengthBase - kRequestFixedCounted;
// Request bytes outside the access code and data: 0x01 LEN SEQ CMD ";" 0x05, checksum, 0x03.
inline constexpr std::size_t kRequestOverhead = 11;

inline constexpr int kChecksumDigits = 4;
inline constexpr char kChecksumDigitBase = 0x30;

// Sequence numbers run from kFirstSequence to kLastSequence and then start again: the frame
// never carries a 0x00 byte, and the echo, read back as a signed byte, stays comparable.
inline constexpr int kFirstSequence = 0x20;
inline constexpr int kLastSequence = 0x7F;

// Reply offsets.
inline constexpr std::size_t kReplySequenceOffset = 2;
inline constexpr std::size_t kReplyCommandOffset = 3;
inline constexpr std::size_t kReplyErrorOffset = 4;
inline constexpr std::size_t kReplyErrorDigits = 4;
inline constexpr std::size_t kReplyDataOffset = 9;
// Reply bytes counted by LEN besides the data: LEN, SEQ, CMD, error field, separator, 0x04.
inline constexpr int kReplyFixedCounted = 9;
inline constexpr int kMaxReplyErrorCode = 9999;

inline int NextSequence(int sequence) {
    return sequence >= kLastSequence || sequence < kFirstSequence ? kFirstSequence : sequence + 1;
}

// Sum of the bytes of `counted` modulo 65536.
inline std::uint16_t Checksum(std::string_view counted) {
    std::uint16_t sum = 0;
    for (const char c : counted)
        sum = static_cast<std::uint16_t>(sum + static_cast<std::uint8_t>(c));
    return sum;
}

inline std::string EncodeChecksum(std::uint16_t sum) {
    std::string digits(kChecksumDigits, kChecksumDigitBase);
    for (int i = kChecksumDigits - 1; i >= 0; --i) {
        digits[static_cast<std::size_t>(i)] = static_cast<char>(kChecksumDigitBase + (sum & 0x0F));
        sum = static_cast<std::uint16_t>(sum >> 4);
    }
    return digits;
}

// Puts 0x01 and LEN before `counted` (which starts with SEQ) and the checksum and 0x03 after.
inline std::string WrapFrame(std::string counted) {
    const int length = static_cast<int>(counted.size()) + 1 + kLengthBase;
    counted.insert(counted.begin(), static_cast<char>(length));
    std::string frame(1, kFrameStart);
    frame += counted;
    frame += EncodeChecksum(Checksum(counted));
    frame += kFrameEnd;
    return frame;
}

// The request frame. The caller keeps access code and data within kMaxRequestText and free of
// 0x00 bytes.
inline std::string BuildRequestFrame(int sequence, std::uint8_t command,
                                     std::string_view accessCode, std::string_view data) {
    std::string counted;
    counted += static_cast<char>(sequence);
    counted += static_cast<char>(command);
    counted += accessCode;
    counted += kAccessCodeSeparator;
    counted += data;
    counted += kRequestDataEnd;
    return WrapFrame(std::move(counted));
}

// The reply frame. `errorCode` is written as four digits (0 to kMaxReplyErrorCode). With
// `status` bytes the reply goes on as printers send it: 0x04, the status bytes, 0x05, and LEN
// and the checksum then count up to the 0x05; without, it ends its counted bytes at the 0x04.
inline std::string BuildReplyFrame(int sequence, std::uint8_t command, int errorCode,
                                   std::string_view data, std::string_view status = {}) {
    std::string counted;
    counted += static_cast<char>(sequence);
    counted += static_cast<char>(command);
    std::string error = std::to_string(errorCode);
    counted.append(kReplyErrorDigits - std::min(error.size(), kReplyErrorDigits), '0');
    counted += error;
    counted += kReplySeparator;
    counted += data;
    counted += kReplyDataEnd;
    if (!status.empty()) {
        counted += status;
        counted += kRequestDataEnd;
    }
    return WrapFrame(std::move(counted));
}

struct RequestFrame {
    int sequence = 0;
    std::uint8_t command = 0;
    std::string accessCode;
    std::string data;
};

// Total length of a request frame whose LEN byte is `lengthByte`; 0 when LEN is too small
// to hold the fixed bytes.
inline std::size_t RequestFrameSize(std::uint8_t lengthByte) {
    const int counted = lengthByte - kLengthBase;
    if (counted < kRequestFixedCounted - 1) return 0;
    return static_cast<std::size_t>(counted) + 1 + kChecksumDigits + 1;
}

// Checks a whole request frame (LEN, the 0x05, the checksum, the 0x03) and splits it. The access
// code is what stands before the first ";". Refused when the frame is malformed.
inline Result<RequestFrame> ParseRequestFrame(std::string_view frame) {
    const platform::Error malformed = platform::Error::Message("malformed request frame");
    if (frame.size() < 2 || frame.front() != kFrameStart) return malformed;
    const std::size_t size = RequestFrameSize(static_cast<std::uint8_t>(frame[1]));
    if (size == 0 || frame.size() != size || frame.back() != kFrameEnd) return malformed;
    const std::size_t dataEnd = size - 1 - kChecksumDigits - 1;
    if (frame[dataEnd] != kRequestDataEnd) return malformed;
    const std::string_view counted = frame.substr(1, dataEnd);
    if (frame.substr(dataEnd + 1, kChecksumDigits) != EncodeChecksum(Checksum(counted))) {
        return malformed;
    }
    RequestFrame request;
    request.sequence = static_cast<std::uint8_t>(frame[2]);
    request.command = static_cast<std::uint8_t>(frame[3]);
    const std::string_view text = frame.substr(4, dataEnd - 4);
    const std::size_t separator = text.find(kAccessCodeSeparator);
    if (separator == std::string_view::npos) return malformed;
    request.accessCode = text.substr(0, separator);
    request.data = text.substr(separator + 1);
    return request;
}

// True when `frame` (from its 0x01 up to its 0x03) reads as the link reads a reply to the frame
// sent with `sequence`: the echoed sequence, four error digits, and a 0x04 after them. LEN,
// CMD, the bytes after the 0x04 and the checksum are the printer's own layout and are not
// checked, so that a printer that sends status bytes there is recognised too.
inline bool ReadsAsReply(std::string_view frame, int sequence) {
    if (frame.size() <= kReplyDataOffset || frame.front() != kFrameStart ||
        frame.back() != kFrameEnd) {
        return false;
    }
    if (static_cast<std::uint8_t>(frame[kReplySequenceOffset]) != sequence) return false;
    for (const char digit : frame.substr(kReplyErrorOffset, kReplyErrorDigits)) {
        if (digit < '0' || digit > '9') return false;
    }
    return frame.find(kReplyDataEnd, kReplyDataOffset) < frame.size() - 1;
}

}  // namespace tillvane::link
