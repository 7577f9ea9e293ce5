// The printer simulator on its own, as a serial driver sees it from the device side.

#include <gtest/gtest.h>

#include <csignal>

#include "registers/serial/link_frame.h"
#include "registers/serial/port_serial.h"
#include "tests/support/child_process.h"
#include "tests/support/wait.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;

const std::string kSimulatorProgram =
    std::string(TILLVANE_BINARY_DIR) + "/tools/printer_simulator/printer_simulator";

class PrinterSimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(simulator.WaitForStdout("\n", 10s));
        const std::string out = simulator.Stdout();
        const platform::Error opened = port.Open(out.substr(0, out.find('\n')), {}, 2000ms);
        ASSERT_TRUE(opened.ok()) << opened.text();
    }
    void TearDown() override {
        simulator.Signal(SIGTERM);
        EXPECT_EQ(simulator.WaitForExit(10s), 0);
    }

    // The bytes that come back up to the first 0x03 or NAK; empty when nothing comes.
    std::string Answer() {
        std::string bytes;
        while (const std::optional<char> byte = port.ReadByte()) {
            bytes += *byte;
            if (*byte == link::kFrameEnd || *byte == link::kNak) break;
        }
        return bytes;
    }
    std::string Exchange(int sequence, std::uint8_t command, std::string_view data) {
        EXPECT_TRUE(port.Write(link::BuildRequestFrame(sequence, command, "482917", data)).ok());
        return Answer();
    }

    testing::ChildProcess simulator{{kSimulatorProgram, {}, {}, {}, {}}};
    PortSerial port;
};

TEST_F(PrinterSimulatorTest, AnswersLikeAPrinterAndRefusesDamage) {
    // Status bytes after the 0x04, as printers send them; the third tells an open receipt.
    const std::string closed = "\x80\x80\x80\x80\x80\x80";
    const std::string open = "\x80\x80\x88\x80\x80\x80";
    EXPECT_EQ(Exchange(0x30, 0x64, "1;1.000;2.50;"),
              link::BuildReplyFrame(0x30, 0x64, 2001, "", closed));
    EXPECT_EQ(Exchange(0x31, 0x63, "1;1;0;"), link::BuildReplyFrame(0x31, 0x63, 0, "", open));
    // A receipt left open stays open: a second open is refused, and so is a report.
    EXPECT_EQ(Exchange(0x32, 0x63, "1;1;0;"), link::BuildReplyFrame(0x32, 0x63, 2007, "", open));
    EXPECT_EQ(Exchange(0x32, 0xA1, "1;"), link::BuildReplyFrame(0x32, 0xA1, 2005, "", open));
    simulator.Signal(SIGUSR1);  // the cashier's cancel key
    EXPECT_TRUE(testing::WaitUntil(
        [&] {
            return Exchange(0x32, 0xA1, "1;") == link::BuildReplyFrame(0x32, 0xA1, 0, "", closed);
        },
        5s));

    std::string damaged = link::BuildRequestFrame(0x33, 0x65, "482917", "1;");
    damaged[damaged.size() - 2] ^= 1;  // a checksum digit
    ASSERT_TRUE(port.Write(damaged).ok());
    EXPECT_EQ(Answer(), std::string(1, link::kNak));

    // A frame that stops halfway is answered once the line has stayed quiet.
    ASSERT_TRUE(port.Write(link::BuildRequestFrame(0x34, 0x65, "482917", "1;").substr(0, 8)).ok());
    EXPECT_EQ(Answer(), std::string(1, link::kNak));
}

}  // namespace
}  // namespace tillvane
