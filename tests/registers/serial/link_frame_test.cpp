#include "registers/serial/link_frame.h"

#include <gtest/gtest.h>

#include "registers/serial/serial_link.h"

namespace tillvane {
namespace {

constexpr std::string_view kAccessCode = "482917";

TEST(LinkFrame, LengthByteAndSizeFollowTheData) {
    struct Case {
        std::string_view data;
        int lengthByte;
        std::size_t frameSize;
    };
    const Case cases[] = {
        {"", 0x2B, 17},
        {"1;1;0;", 0x31, 23},
        {std::string_view("0123456789012345678901234567890123456789").substr(0, 12), 0x37, 29},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.data));
        const std::string frame = link::BuildRequestFrame(0x2A, 0x63, kAccessCode, c.data);
        ASSERT_EQ(frame.size(), c.frameSize);
        EXPECT_EQ(frame[0], 0x01);
        EXPECT_EQ(static_cast<std::uint8_t>(frame[1]), c.lengthByte);
        EXPECT_EQ(frame[2], 0x2A);
        EXPECT_EQ(frame[3], 0x63);
        EXPECT_EQ(frame.substr(4, 7), "482917;");
        EXPECT_EQ(frame.substr(11, c.data.size()), c.data);
        EXPECT_EQ(frame[11 + c.data.size()], 0x05);
        EXPECT_EQ(frame.back(), 0x03);
    }
}

TEST(LinkFrame, ChecksumDigitsAreThirtyPlusNibble) {
    const std::pair<std::uint16_t, std::string_view> cases[] = {
        {0x017A, "\x30\x31\x37\x3A"},
        {0x0000, "0000"},
        {0xFFFF, "????"},
        {0xABCD, ":;<="},
    };
    for (const auto& [sum, digits] : cases) EXPECT_EQ(link::EncodeChecksum(sum), digits);
}

TEST(LinkFrame, ChecksumCoversLengthToDataEnd) {
    const std::string frame = link::BuildRequestFrame(0x20, 0x67, kAccessCode, "1;10.00;");
    unsigned sum = 0;
    const std::size_t dataEnd = frame.find('\x05');
    for (std::size_t i = 1; i <= dataEnd; ++i) sum += static_cast<std::uint8_t>(frame[i]);
    EXPECT_EQ(frame.substr(dataEnd + 1, 4), link::EncodeChecksum(static_cast<std::uint16_t>(sum)));
}

TEST(LinkFrame, RequestParsesBackAndRejectsDamage) {
    const std::string frame = link::BuildRequestFrame(0x41, 0x24, kAccessCode, "07;Apa;1;1;00;;");
    const auto parsed = link::ParseRequestFrame(frame);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sequence, 0x41);
    EXPECT_EQ(parsed->command, 0x24);
    EXPECT_EQ(parsed->accessCode, kAccessCode);
    EXPECT_EQ(parsed->data, "07;Apa;1;1;00;;");

    for (const std::size_t offset : {std::size_t{1}, std::size_t{6}, frame.size() - 3}) {
        std::string damaged = frame;
        damaged[offset] = static_cast<char>(damaged[offset] + 1);
        EXPECT_FALSE(link::ParseRequestFrame(damaged)) << "offset " << offset;
    }
    EXPECT_FALSE(link::ParseRequestFrame(frame.substr(0, frame.size() - 1)));
}

TEST(LinkFrame, SequenceWrapsBeforeTheSignBit) {
    EXPECT_EQ(link::NextSequence(0x20), 0x21);
    EXPECT_EQ(link::NextSequence(0x7E), 0x7F);
    EXPECT_EQ(link::NextSequence(0x7F), 0x20);
}

TEST(ParseReply, ReadsEchoErrorFieldAndDataWindow) {
    // 0x01 LEN SEQ CMD e e e e sep, data from offset 9 up to the 0x04.
    const auto reply = [](std::string_view error, std::string_view data) {
        std::string bytes = "\x01\x30\x2A\x63";
        bytes += error;
        bytes += ';';
        bytes += data;
        return bytes;
    };
    struct Case {
        std::string bytes;
        std::optional<std::size_t> dataEnd;
        int error;
        std::string data;
    };
    const std::string longData(118, 'x');
    const std::string tooLongData(119, 'x');
    const Case cases[] = {
        {reply("0000", ""), 9, 0, ""},
        {reply("0107", "a"), 10, 107, "a"},
        {reply(" -12", "ab"), 11, -12, "ab"},
        {reply("12x4", longData), 127, 12, longData},
        {reply("0000", tooLongData), 128, 0, ""},
        {reply("0000", "abc"), std::nullopt, 0, ""},
        {"\x01\x30\x2A", std::nullopt, 0, ""},
    };
    for (const Case& c : cases) {
        const ParsedReply parsed = ParseReply(c.bytes, c.dataEnd);
        EXPECT_EQ(parsed.sequence, 0x2A);
        EXPECT_EQ(parsed.errorCode, c.error);
        EXPECT_EQ(parsed.data, c.data);
    }
    EXPECT_EQ(ParseReply("\x01\x30\x80\x63", std::nullopt).sequence, -128);
}

// The probe takes what the link would read as a reply to its frame, whatever the printer puts
// into LEN, CMD, the status bytes and the checksum.
TEST(LinkFrame, ReplyIsRecognisedAsTheLinkReadsIt) {
    const std::string withStatus = link::BuildReplyFrame(0x20, 0x80, 0, "v1", "\x80\x88\x80");
    std::string foreignLayout = withStatus;
    foreignLayout[1] = 0x7E;                        // LEN
    foreignLayout[3] = 0x00;                        // CMD
    foreignLayout[foreignLayout.size() - 2] = 'x';  // checksum
    const std::pair<std::string, bool> cases[] = {
        {withStatus, true},
        {foreignLayout, true},
        {link::BuildReplyFrame(0x21, 0x80, 0, "v1"), false},  // another frame's sequence
        {std::string("\x01\x2B\x20\x80"
                     "00a0;\x04"
                     "0000\x03"),
         false},  // error not digits
        {std::string("\x01\x2B\x20\x80"
                     "0000;v1"
                     "0000\x03"),
         false},  // no 0x04
    };
    for (const auto& [frame, recognised] : cases) {
        EXPECT_EQ(link::ReadsAsReply(frame, 0x20), recognised) << frame;
    }
}

}  // namespace
}  // namespace tillvane
