#include "registers/serial/serial_ufp_register.h"

#include <gtest/gtest.h>

#include <map>

#include "registers/serial/link_frame.h"
#include "tests/registers/serial/fake_channel.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeChannel;
using testing::ReplyTo;

struct Sent {
    int command;
    int sequence;
    std::string data;
    bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& sent) {
    return out << std::hex << "{0x" << sent.command << ", 0x" << sent.sequence << ", \""
               << sent.data << "\"}";
}

class SerialUFPRegisterTest : public ::testing::Test {
  protected:
    SerialUFPRegisterTest() {
        driver.log.SetPath(dir.File("register.log"));
        driver.vatGroups = {{"A", "1"}, {"B", "2"}};
        driver.state = ReceiptState::ready;
        // A printer that answers every command but 0x88, with the code the test sets.
        channel.respond = [this](const std::string& frame) {
            const auto command = static_cast<std::uint8_t>(frame.at(3));
            return command == 0x88 ? std::string() : ReplyTo(frame, printerErrors[command]);
        };
    }

    std::vector<Sent> SentFrames() const {
        std::vector<Sent> sent;
        for (const std::string& frame : channel.frames) {
            const auto request = link::ParseRequestFrame(frame);
            EXPECT_TRUE(request) << "malformed frame";
            if (!request) continue;
            EXPECT_EQ(request->accessCode, "482917");
            sent.push_back({request->command, request->sequence, request->data});
        }
        return sent;
    }
    std::vector<int> SentCommands() const {
        std::vector<int> commands;
        for (const Sent& sent : SentFrames()) commands.push_back(sent.command);
        return commands;
    }
    std::string Log() const { return testing::ReadFile(dir.File("register.log")); }
    bool Logged(const std::string& entry) const {
        return Log().find("->" + entry) != std::string::npos;
    }
    bool Sell(std::string name = "Apa", double price = 2.5, double quantity = 1) {
        return driver.SellItem(name, price, quantity, "A", '1', 1);
    }

    testing::TempDir dir;
    FakeChannel channel;
    testing::PauseRecorder pauses;
    std::map<std::uint8_t, int> printerErrors;
    SerialUFPRegister driver{channel, pauses.AsPause()};
};

TEST(MakeItemCode, DayHourMinuteSecondMilliseconds) {
    platform::LocalTime time;
    time.tm.tm_mday = 7;
    time.tm.tm_hour = 14;
    time.tm.tm_min = 5;
    time.tm.tm_sec = 9;
    time.milliseconds = 42;
    EXPECT_EQ(MakeItemCode(time), "07140509042");
}

TEST_F(SerialUFPRegisterTest, WholeSaleSendsTheCommandsInOrder) {
    ASSERT_TRUE(driver.BeginSell());
    EXPECT_EQ(driver.state, ReceiptState::selling);
    ASSERT_TRUE(Sell());
    ASSERT_TRUE(driver.PrintText("a;b", "c", "d", "e", ""));
    ASSERT_TRUE(driver.Payment(1, 10));
    ASSERT_TRUE(driver.Payment(0, 1));
    ASSERT_TRUE(driver.CloseReceipt(nullptr));
    EXPECT_EQ(driver.state, ReceiptState::afterSell);
    EXPECT_DOUBLE_EQ(driver.soldTotal, 2.5);
    EXPECT_DOUBLE_EQ(driver.paidTotal, 11);

    std::vector<Sent> sent = SentFrames();
    ASSERT_EQ(sent.size(), 11u);
    const std::string itemCode = sent[4].data.substr(0, 11);
    EXPECT_EQ(itemCode.find_first_not_of("0123456789"), std::string::npos);
    const std::vector<Sent> expected = {
        {0x88, 0x27, "20;0;"},
        {0x28, 0x28, ""},
        {0x80, 0x29, ""},
        {0x63, 0x2A, "1;1;0;"},
        {0x24, 0x2B, itemCode + ";Apa;1;1;00;;"},
        {0x64, 0x2C, itemCode + ";1.000;2.50;"},
        {0x61, 0x2D, "a bcd;"},
        {0x6D, 0x2E, "1;"},
        {0x67, 0x2F, "1;10.00;"},
        {0x67, 0x30, "0;1.00;"},
        {0x65, 0x31, "1;"},
    };
    EXPECT_EQ(sent, expected);
    // 100 ms after every exchange, and 200 ms once the printer queries are done.
    EXPECT_EQ(pauses.pauses.size(), 12u);
    EXPECT_EQ(std::count(pauses.pauses.begin(), pauses.pauses.end(), 200ms), 1);
    EXPECT_EQ(pauses.pauses[3], 200ms);

    // Later receipts skip the queries.
    ASSERT_TRUE(driver.BeginSell());
    EXPECT_EQ(SentFrames().back(), (Sent{0x63, 0x32, "1;1;0;"}));
    EXPECT_EQ(Log(), "");
}

// The first command of a receipt that does not end with 0 fails its operation and ends the
// receipt there: nothing more of it is sent, and the next receipt starts clean. The printer
// queries before the first receipt are not part of it.
TEST_F(SerialUFPRegisterTest, FirstFailedCommandEndsTheReceipt) {
    const std::vector<int> sale = {0x63, 0x24, 0x64, 0x61, 0x6D, 0x67, 0x65};
    const struct {
        int command;
        int code;
        std::string failure;  // "<code and meaning> on <command>"; empty: the receipt prints
    } cases[] = {
        {0x28, 9999, ""},
        {0x63, 2002, "2002 on BeginSell"},
        {0x24, 9997, "9997 (NAK) on ProgItem"},
        {0x64, 9998, "9998 (empty reply) on SellItem"},
        {0x61, 9996, "9996 (reply too long) on PrintText"},
        {0x6D, 2003, "2003 on DisplayTotal"},
        {0x67, 1, "1 on Payment"},
        {0x65, 9999, "9999 (no reply) on CloseReceipt"},
        {0x00, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        printerErrors.clear();
        printerErrors[static_cast<std::uint8_t>(c.command)] = c.code;
        channel.frames.clear();
        std::string message;
        const bool printed = driver.BeginSell() && Sell() &&
                             driver.PrintText("x", "", "", "", "") && driver.Payment(1, 2.5) &&
                             driver.CloseReceipt(&message);
        EXPECT_EQ(printed, c.failure.empty());
        std::vector<int> sent = SentCommands();
        std::erase_if(sent, [](int command) {
            return command == 0x88 || command == 0x28 || command == 0x80;
        });
        const auto failed = std::find(sale.begin(), sale.end(), c.command);
        EXPECT_EQ(sent,
                  std::vector<int>(sale.begin(), failed == sale.end() ? sale.end() : failed + 1));
        if (printed) {
            EXPECT_EQ(driver.state, ReceiptState::afterSell);
            continue;
        }
        const std::string error = "Printer error " + c.failure;
        EXPECT_EQ(driver.RefusalReason(),
                  error + "; see register log; receipt abandoned, nothing more sent");
        EXPECT_EQ(message, c.command == 0x65 ? driver.RefusalReason() : "");
        EXPECT_EQ(driver.state, ReceiptState::ready);
        EXPECT_TRUE(Logged("Receipt abandoned: " + error)) << Log();
    }
    EXPECT_TRUE(driver.handshakeDone);
    for (const char* name :
         {"RcvPrinterPar:lastError=9999", "BeginSell:lastError=2002", "ProgItem:lastError=9997",
          "SellItem:lastError=9998", "DisplayTotal:lastError=2003", "Payment:lastError=1",
          "CloseReceipt:lastError=9999"}) {
        EXPECT_TRUE(Logged(name)) << name;
    }
    EXPECT_FALSE(Logged("PrintText:lastError")) << "this command's codes are not logged";
}

// A report answers for its own command; a receipt open meanwhile stays open and whole.
TEST_F(SerialUFPRegisterTest, FailedReportLeavesTheReceiptOpen) {
    ASSERT_TRUE(driver.BeginSell());
    ASSERT_TRUE(Sell());
    printerErrors[0xA1] = 2005;
    EXPECT_FALSE(driver.DailyReportsX());
    EXPECT_EQ(driver.RefusalReason(), "Printer error 2005 on DailyReportsX; see register log");
    EXPECT_FALSE(driver.DailyReportsZ());
    EXPECT_TRUE(Logged("DailyReportsZ:lastError=2005"));
    EXPECT_EQ(driver.state, ReceiptState::selling);
    EXPECT_TRUE(driver.Payment(1, 2.5));
    EXPECT_TRUE(driver.CloseReceipt(nullptr));
}

TEST_F(SerialUFPRegisterTest, FramesThatCannotBeWrittenFailTheOperation) {
    channel.refuseWrites = true;
    EXPECT_FALSE(driver.BeginSell());
    EXPECT_TRUE(Logged("RcvPrinterPar:lastError=-1"));
    EXPECT_TRUE(Logged("BeginSell:lastError=-1"));
    EXPECT_FALSE(driver.handshakeDone);
    EXPECT_EQ(driver.state, ReceiptState::ready);
    EXPECT_TRUE(pauses.pauses.empty());

    // The queries are made again with the next receipt.
    channel.refuseWrites = false;
    EXPECT_TRUE(driver.BeginSell());
    EXPECT_EQ(SentCommands(), (std::vector{0x88, 0x28, 0x80, 0x63}));
    EXPECT_EQ(SentFrames().front().sequence, 0x27);

    // The sale ends with its first frame that could not be written.
    channel.refuseWrites = true;
    EXPECT_FALSE(Sell());
    EXPECT_EQ(driver.state, ReceiptState::ready);
    EXPECT_FALSE(driver.PrintText("x", "", "", "", ""));
    EXPECT_FALSE(driver.CloseReceipt(nullptr));
    EXPECT_FALSE(driver.DailyReportsZ());

    channel.refuseWrites = false;
    ASSERT_TRUE(driver.BeginSell());
    ASSERT_TRUE(Sell());
    channel.refuseWrites = true;
    EXPECT_FALSE(driver.Payment(1, 1));
    EXPECT_TRUE(Logged("DisplayTotal:lastError=-1"));
    EXPECT_FALSE(Logged("Payment:lastError")) << "nothing is sent after the failed command";
    EXPECT_EQ(driver.state, ReceiptState::ready);
}

TEST_F(SerialUFPRegisterTest, SilentPrinterCostsThreeReadsPerCommand) {
    channel.respond = nullptr;
    EXPECT_FALSE(driver.DailyReportsX());
    EXPECT_EQ(driver.RefusalReason(),
              "Printer error 9999 (no reply) on DailyReportsX; see register log");
    EXPECT_EQ(channel.emptyReads, 3);
    EXPECT_TRUE(Logged("failCount!=0"));
    EXPECT_TRUE(Logged("DailyReportsX:lastError=9999"));
    EXPECT_EQ(SentFrames(), (std::vector<Sent>{{0xA1, 0x20, "1;"}}));
    EXPECT_FALSE(driver.DailyReportsZ());
    EXPECT_EQ(SentFrames().back(), (Sent{0xA1, 0x20, "0;"}));
}

TEST_F(SerialUFPRegisterTest, DisabledLetters) {
    driver.disabledCommands = "TP";
    // Skipped like a printed text: the receipt goes on, and the amount counts for the totals.
    EXPECT_TRUE(driver.Payment(1, 10));
    EXPECT_TRUE(Logged("ERROR: T command disabled (unsupported payment modes)"));
    EXPECT_TRUE(driver.PrintText("x", "", "", "", ""));  // outside a receipt too
    ASSERT_TRUE(driver.BeginSell());
    EXPECT_TRUE(driver.PrintText("x", "", "", "", ""));
    EXPECT_TRUE(driver.Payment(1, 10));
    EXPECT_EQ(driver.paidTotal, 10);
    // Neither letter touches the reports.
    EXPECT_TRUE(driver.DailyReportsX());
    EXPECT_EQ(SentCommands(), (std::vector{0x88, 0x28, 0x80, 0x63, 0xA1}));
}

TEST_F(SerialUFPRegisterTest, OperationsOutsideAReceipt) {
    EXPECT_FALSE(driver.PrintText("x", "", "", "", ""));
    EXPECT_FALSE(driver.Payment(1, 1));
    EXPECT_FALSE(driver.CloseReceipt(nullptr));
    EXPECT_TRUE(channel.frames.empty());
    // An item goes to the printer even without an open receipt, and answers for its codes.
    EXPECT_TRUE(Sell());
    EXPECT_EQ(SentCommands(), (std::vector{0x24, 0x64}));
    printerErrors[0x24] = 1002;
    EXPECT_FALSE(Sell());
    EXPECT_EQ(driver.RefusalReason(), "Printer error 1002 on ProgItem; see register log");
    EXPECT_EQ(SentCommands(), (std::vector{0x24, 0x64, 0x24})) << "an item not taken is not sold";
    EXPECT_EQ(driver.state, ReceiptState::ready);
    channel.frames.clear();

    driver.state = ReceiptState::unconfigured;
    EXPECT_FALSE(driver.BeginSell());
    EXPECT_TRUE(Logged("BeginSell: Status not ready or afterSell"));
    EXPECT_TRUE(channel.frames.empty());
}

TEST_F(SerialUFPRegisterTest, UnknownVatGroupSendsNothing) {
    std::string name = "Apa";
    EXPECT_FALSE(driver.SellItem(name, 1, 1, "a", '1', 1));
    EXPECT_TRUE(Logged("VAT NOT FOUND"));
    EXPECT_TRUE(channel.frames.empty());
    EXPECT_EQ(driver.soldTotal, 0);
}

TEST_F(SerialUFPRegisterTest, TextPiecesAreCutAndCleaned) {
    ASSERT_TRUE(driver.BeginSell());
    ASSERT_TRUE(driver.PrintText("0123456789abcdefXYZ", ";;", "", "fourth", "fifth"));
    EXPECT_EQ(SentFrames().back().data, "0123456789abcde  ;");
    // A ";" in a name would end the name field and choose the VAT group.
    std::string name = "Apa;9";
    ASSERT_TRUE(driver.SellItem(name, 1, 1, "A", '1', 1));
    EXPECT_EQ(name, "Apa 9");
    const std::string itemData = SentFrames().at(SentFrames().size() - 2).data;
    EXPECT_EQ(itemData.substr(11), ";Apa 9;1;1;00;;");
}

TEST_F(SerialUFPRegisterTest, UnequalTotalsRefuseTheClose) {
    driver.alwaysSellEqualsPayed = 1;
    struct Case {
        double paid;
        bool closes;
    };
    for (const Case c : {Case{3, false}, Case{2.5, true}}) {
        channel.frames.clear();
        driver.state = ReceiptState::ready;
        ASSERT_TRUE(driver.BeginSell());
        ASSERT_TRUE(Sell());
        ASSERT_TRUE(driver.Payment(1, c.paid));
        std::string message;
        EXPECT_EQ(driver.CloseReceipt(&message), c.closes);
        EXPECT_EQ(SentCommands().back(), c.closes ? 0x65 : 0x67);
        if (!c.closes) {
            const std::string text = "Valoarea serviciilor difera de valoarea achitata. 2.50<>3.00";
            EXPECT_EQ(message, text);
            EXPECT_TRUE(Logged(text));
            EXPECT_EQ(driver.state, ReceiptState::ready);
        } else {
            EXPECT_EQ(driver.state, ReceiptState::afterSell);
        }
    }
}

TEST_F(SerialUFPRegisterTest, OverlongTextsNeverBreakTheFrame) {
    ASSERT_TRUE(driver.BeginSell());
    std::string name(300, 'n');
    name[1] = '\0';
    ASSERT_TRUE(driver.SellItem(name, 1, 1, "B", '1', 1));
    // Access code, item code, name, group code and the fixed fields fill 218 bytes.
    EXPECT_EQ(name, std::string(191, 'n'));
    const std::string& itemFrame = channel.frames.at(4);
    EXPECT_EQ(static_cast<std::uint8_t>(itemFrame[1]), 0xFF);
    EXPECT_EQ(itemFrame.find('\0'), std::string::npos);

    // Numbers too large for a frame: the command is not sent and the operation fails.
    EXPECT_FALSE(driver.Payment(1, 1e300));
    EXPECT_TRUE(Logged("Payment:lastError=-1"));
    EXPECT_TRUE(Logged("Frame too long for command 0x67"));
    EXPECT_EQ(SentCommands().back(), 0x6D);
}

}  // namespace
}  // namespace tillvane
