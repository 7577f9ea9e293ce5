#include "registers/serial/serial_link.h"

#include <gtest/gtest.h>

#include "registers/serial/link_frame.h"
#include "tests/registers/serial/fake_channel.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeChannel;
using testing::ReplyTo;

constexpr std::string_view kAccessCode = "482917";

class SerialLinkTest : public ::testing::Test {
  protected:
    SerialLinkTest() { log.SetPath(dir.File("register.log")); }

    // One exchange of the command 0x63 that reads a reply.
    bool Exchange(std::string_view data = "1;1;0;") {
        return link.Exchange(0x63, kAccessCode, data, &replyData, lastError);
    }
    std::string Log() const { return testing::ReadFile(dir.File("register.log")); }
    int SequenceOf(std::size_t frame) const { return channel.frames.at(frame).at(2); }

    testing::TempDir dir;
    RegisterLog log;
    FakeChannel channel;
    testing::PauseRecorder pauses;
    SerialLink link{channel, log, pauses.AsPause()};
    std::string replyData = "stale";
    int lastError = 12345;
};

TEST_F(SerialLinkTest, AnsweredCommandGivesPrinterCodeAndMovesOn) {
    struct Case {
        int printerError;
        std::string data;
    };
    for (const Case& c : {Case{0, "ready"}, Case{107, ""}, Case{9999, "x"}}) {
        channel.respond = [&](const std::string& frame) {
            return ReplyTo(frame, c.printerError, c.data);
        };
        const int sequence = link.sequenceNumber();
        EXPECT_TRUE(Exchange());
        EXPECT_EQ(lastError, c.printerError);
        EXPECT_EQ(replyData, c.data);
        EXPECT_EQ(link.sequenceNumber(), sequence + 1);
        EXPECT_EQ(pauses.pauses.back(), 100ms);
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(SerialLinkTest, NakCountsAsDoneWithoutResending) {
    channel.respond = [](const std::string&) { return std::string(1, link::kNak); };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, kLinkNak);
    EXPECT_EQ(channel.frames.size(), 1u);
    EXPECT_EQ(link.sequenceNumber(), 0x21);
    EXPECT_EQ(pauses.pauses, std::vector{200ms});
}

TEST_F(SerialLinkTest, EmptyResponseKeepsTheSequence) {
    channel.respond = [](const std::string&) { return std::string(1, link::kFrameEnd); };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, kLinkEmptyResponse);
    EXPECT_EQ(link.sequenceNumber(), 0x20);
    EXPECT_TRUE(pauses.pauses.empty());
    EXPECT_NE(Log().find("->Empty response"), std::string::npos);
}

TEST_F(SerialLinkTest, SilentPrinterGivesUpAfterThreeReadsAndReusesTheSequence) {
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, kLinkSilent);
    EXPECT_EQ(channel.emptyReads, 3);
    EXPECT_TRUE(pauses.pauses.empty());
    EXPECT_NE(Log().find("->failCount!=0"), std::string::npos);

    channel.respond = [](const std::string& frame) { return ReplyTo(frame); };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, 0);
    EXPECT_EQ(SequenceOf(0), SequenceOf(1));
}

TEST_F(SerialLinkTest, ReplyParsesAroundBytesBeforeItsStart) {
    // Bytes ahead of the 0x01 are dropped; a reply without 0x01 is read at the same offsets.
    for (const std::string before : {"\xFF garbage", "\x04\x02"}) {
        channel.respond = [&](const std::string& frame) { return before + ReplyTo(frame, 42); };
        EXPECT_TRUE(Exchange());
        EXPECT_EQ(lastError, 42);
    }
    channel.respond = [](const std::string&) {
        return std::string("\x7F\x30\x22\x63") + "0007;\x03";
    };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, 7);
    EXPECT_EQ(Log(), "");
}

TEST_F(SerialLinkTest, WrongEchoIsLoggedAndTheReplyStillCounts) {
    channel.respond = [](const std::string& frame) {
        return link::BuildReplyFrame(frame.at(2) + 1, 0x63, 0, "");
    };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, 0);
    EXPECT_EQ(link.sequenceNumber(), 0x21);
    const std::string expected =
        "block mismatch:seq[32]<>in_seq[33] in buffer[" + link::BuildReplyFrame(0x21, 0x63, 0, "");
    // The buffer holds the reply without its closing 0x03.
    EXPECT_NE(Log().find(expected.substr(0, expected.size() - 1) + "]"), std::string::npos);
}

TEST_F(SerialLinkTest, OverlongReplyIsCutAndReported) {
    const std::string longData(3000, 'd');
    channel.respond = [&](const std::string& frame) { return ReplyTo(frame, 0, longData); };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, kLinkReplyTooLong);
    EXPECT_TRUE(replyData.empty());
    EXPECT_TRUE(channel.input.empty());
    EXPECT_EQ(link.sequenceNumber(), 0x21);
    EXPECT_NE(Log().find("bytes past the receive buffer dropped"), std::string::npos);

    // A printer that never ends its reply is given up too.
    channel.respond = [](const std::string&) { return std::string(kMaxReplyBytesRead + 10, 'z'); };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, kLinkReplyTooLong);
}

TEST_F(SerialLinkTest, SequenceWrapsFrom7FTo20) {
    channel.respond = [](const std::string& frame) { return ReplyTo(frame); };
    link.SetSequenceNumber(0x7E);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Exchange());
    EXPECT_EQ(SequenceOf(0), 0x7E);
    EXPECT_EQ(SequenceOf(1), 0x7F);
    EXPECT_EQ(SequenceOf(2), 0x20);
    EXPECT_EQ(Log(), "");  // every echo matched
}

TEST_F(SerialLinkTest, StaleInputIsDroppedBeforeTheFrameGoesOut) {
    link.SetSequenceNumber(0x30);
    channel.input = link::BuildReplyFrame(0x2F, 0x88, 0, "");  // answer to an earlier command
    channel.respond = [](const std::string& frame) { return ReplyTo(frame, 5); };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(channel.discards, 1);
    EXPECT_EQ(lastError, 5);
    EXPECT_EQ(Log(), "");
}

TEST_F(SerialLinkTest, WithoutReplyBufferNothingIsRead) {
    channel.respond = [](const std::string& frame) { return ReplyTo(frame); };
    EXPECT_TRUE(link.Exchange(0x88, kAccessCode, "20;0;", nullptr, lastError));
    EXPECT_EQ(channel.input.size(), ReplyTo(channel.frames[0]).size());
    EXPECT_EQ(link.sequenceNumber(), 0x21);
    EXPECT_EQ(pauses.pauses, std::vector{100ms});
}

// A slow printer answers the command sent without reading a reply only after the next one
// went out: that late answer is skipped, and the next command gets its own.
TEST_F(SerialLinkTest, LateReplyToACommandSentWithoutReadingIsSkipped) {
    channel.respond = [](const std::string&) { return std::string(); };
    EXPECT_TRUE(link.Exchange(0x88, kAccessCode, "20;0;", nullptr, lastError));
    channel.respond = [](const std::string& frame) {
        return link::BuildReplyFrame(0x20, 0x88, 5, "") + ReplyTo(frame, 0, "ready");
    };
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(lastError, 0);
    EXPECT_EQ(replyData, "ready");
    EXPECT_EQ(Log().find("block mismatch"), std::string::npos) << Log();
}

TEST_F(SerialLinkTest, FrameThatCannotGoOutFailsWithoutSideEffects) {
    channel.refuseWrites = true;
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(lastError, kLinkWriteFailed);
    EXPECT_TRUE(replyData.empty());

    channel.refuseWrites = false;
    const std::size_t room = link::kMaxRequestText - kAccessCode.size();
    EXPECT_FALSE(Exchange(std::string(room + 1, 'x')));
    EXPECT_EQ(lastError, kLinkWriteFailed);
    EXPECT_TRUE(channel.frames.empty());
    EXPECT_NE(Log().find("Frame too long for command 0x63"), std::string::npos);
    EXPECT_EQ(link.sequenceNumber(), 0x20);
    EXPECT_TRUE(pauses.pauses.empty());

    channel.respond = [](const std::string& frame) { return ReplyTo(frame); };
    EXPECT_TRUE(Exchange(std::string(room, 'x')));
    EXPECT_EQ(static_cast<std::uint8_t>(channel.frames.back()[1]), 0xFF);
}

TEST_F(SerialLinkTest, NulAndControlBytesNeverReachTheFrameData) {
    channel.respond = [](const std::string& frame) { return ReplyTo(frame); };
    EXPECT_TRUE(Exchange(std::string("A\0pa\x03\x05\x01;\x80", 9)));
    EXPECT_EQ(channel.frames[0].find('\0'), std::string::npos);
    EXPECT_EQ(link::ParseRequestFrame(channel.frames[0])->data, "Apa   ;\x80");
}

}  // namespace
}  // namespace tillvane
