// The serial port and the driver's start-up over real pseudo-terminals.

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "config/ini_loader.h"
#include "platform/posix/arbitrary_line_speed.h"
#include "platform/serial_port.h"
#include "registers/serial/link_frame.h"
#include "registers/serial/port_serial.h"
#include "registers/serial/serial_ufp_register.h"
#include "tests/support/result_value.h"
#include "tests/support/temp_dir.h"
#include "tools/printer_simulator/pseudo_terminal.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kNoPause = [](std::chrono::milliseconds) {};

// Reads one request frame from the controlling side of `terminal`, giving up at `deadline`.
std::optional<link::RequestFrame> ReadRequest(int fd, Clock::time_point deadline) {
    std::string bytes;
    while (Clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 50) <= 0) continue;
        char byte = 0;
        if (read(fd, &byte, 1) != 1) continue;
        bytes += byte;
        if (bytes.size() >= 2 && bytes.size() == link::RequestFrameSize(bytes[1])) {
            return testing::ValueOrNone(link::ParseRequestFrame(bytes));
        }
    }
    return std::nullopt;
}

TEST(SerialDevicePath, ComNamesMapToSerialDevices) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},  {"com2", "/dev/ttyS1"},
        {"COM10", "/dev/ttyS9"}, {"COM0", "COM0"},
        {"COM", "COM"},          {"COM1x", "COM1x"},
        {"COM+1", "COM+1"},      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
    };
    for (const auto& [name, path] : cases) EXPECT_EQ(platform::SerialDevicePath(name), path);
}

class PtyTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(terminal.Open()); }

    // A serial driver started with `lines` as its configuration.
    std::unique_ptr<SerialUFPRegister> StartDriver(const std::string& lines) {
        testing::WriteFile(dir.File("Tillvane_se.ini"), lines);
        INILoader configuration;
        EXPECT_TRUE(configuration.Load(dir.File("Tillvane_se.ini")).ok());
        auto driver = std::make_unique<SerialUFPRegister>();
        driver->log.SetPath(dir.File("register.log"));
        driver->LoadSharedSettings(configuration);
        return driver;
    }
    std::string PortLine() const { return "TVA_GROUPS=A:1\nPort=" + terminal.path() + "\n"; }
    std::string Log() const { return testing::ReadFile(dir.File("register.log")); }

    testing::TempDir dir;
    simulator::PseudoTerminal terminal;
};

TEST_F(PtyTest, FrameCrossesTheLineAndTheReplyComesBack) {
    PortSerial port;
    ASSERT_TRUE(port.Open(terminal.path(), {}).ok());
    std::thread printer([&] {
        const auto request = ReadRequest(terminal.fd(), Clock::now() + 10s);
        if (!request) return;
        const std::string reply =
            "noise" +
            link::BuildReplyFrame(request->sequence, request->command, 107, request->data);
        EXPECT_EQ(write(terminal.fd(), reply.data(), reply.size()), ssize_t(reply.size()));
    });
    RegisterLog log;
    SerialLink link(port, log, kNoPause);
    std::string replyData;
    int lastError = 0;
    EXPECT_TRUE(link.Exchange(0x63, "482917", "1;1;0;", &replyData, lastError));
    printer.join();
    EXPECT_EQ(lastError, 107);
    EXPECT_EQ(replyData, "1;1;0;");
    EXPECT_EQ(link.sequenceNumber(), 0x21);
}

// A stop cancels the token: the port then transfers nothing, counts each refusal, and
// transfers again once the token is reset.
TEST_F(PtyTest, CancelledTokenRefusesEveryTransferUntilReset) {
    PortSerial port;
    ASSERT_TRUE(port.Open(terminal.path(), {}).ok());
    platform::CancelToken token;
    port.SetCancelToken(&token);
    token.Cancel();
    const auto start = Clock::now();
    EXPECT_FALSE(port.Write("A").ok());
    EXPECT_EQ(port.ReadByte(), std::nullopt);
    EXPECT_LT(Clock::now() - start, kPortReadTimeout);  // no read waited for its time-out
    EXPECT_EQ(token.refusals(), 2u);
    pollfd entry{terminal.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&entry, 1, 0), 0);  // nothing reached the line

    token.Reset();
    EXPECT_TRUE(port.Write("B").ok());
    ASSERT_EQ(poll(&entry, 1, 10000), 1);
    char byte = 0;
    ASSERT_EQ(read(terminal.fd(), &byte, 1), 1);
    EXPECT_EQ(byte, 'B');
    EXPECT_EQ(token.refusals(), 2u);
}

// Pays the real one-second reads: three of them before the printer counts as silent.
TEST_F(PtyTest, SilentPrinterIsGivenUpAfterThreeOneSecondReads) {
    PortSerial port;
    ASSERT_TRUE(port.Open(terminal.path(), {}).ok());
    RegisterLog log;
    SerialLink link(port, log, kNoPause);
    std::string replyData;
    int lastError = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(link.Exchange(0xA1, "482917", "1;", &replyData, lastError));
    EXPECT_GE(Clock::now() - start, 2900ms);
    EXPECT_EQ(lastError, kLinkSilent);
    EXPECT_EQ(link.sequenceNumber(), 0x20);
}

TEST_F(PtyTest, DriverConfiguresTheLine) {
    auto driver = StartDriver(PortLine() + "baudRate=19200\n");
    ASSERT_EQ(driver->state, ReceiptState::ready) << Log();
    EXPECT_TRUE(driver->port.isOpen);
    EXPECT_EQ(driver->sequenceNumber(), 0x20);
    termios options{};
    ASSERT_EQ(tcgetattr(terminal.fd(), &options), 0);
    EXPECT_EQ(cfgetospeed(&options), B19200);
    EXPECT_EQ(options.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(options.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(options.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(options.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(options.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(options.c_cc[VMIN], 0);
    EXPECT_EQ(options.c_cc[VTIME], 10);
    EXPECT_EQ(Log(), "");
}

// Speeds without a constant of their own (14400 is one Windows offers) go through termios2; a
// pseudo-terminal takes any, as the kernel keeps the speed of a line it does not drive.
TEST_F(PtyTest, AnySpeedTheKernelTakesIsSet) {
    for (const unsigned rate : {14400u, 12345u, 2000000u}) {
        auto driver = StartDriver(PortLine() + "baudRate=" + std::to_string(rate) + "\n");
        EXPECT_EQ(driver->state, ReceiptState::ready) << rate << Log();
        const Result<unsigned> applied = platform::ReadLineSpeed(terminal.fd());
        ASSERT_TRUE(applied.ok()) << applied.error().text();
        EXPECT_EQ(applied.value(), rate);
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(PtyTest, UnsupportedSpeedIsRefusedAndThePortLetGo) {
    for (const char* rate : {"0", "fast", "-9600", "-14400"}) {
        auto driver = StartDriver(PortLine() + "baudRate=" + rate + "\n");
        EXPECT_EQ(driver->state, ReceiptState::unconfigured) << rate;
        EXPECT_FALSE(driver->port.isOpen);
        EXPECT_FALSE(driver->BeginSell());
    }
    const std::string entry = "->Eroare 22 la la setare parametrii specificati in DCB";
    std::size_t count = 0;
    for (std::size_t at = Log().find(entry); at != std::string::npos;
         at = Log().find(entry, at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(StartDriver(PortLine())->state, ReceiptState::ready);
}

// A port another program holds, or one that is missing, does not keep the driver from
// starting: the request that needs it tries again and fails at once with the reason.
TEST_F(PtyTest, PortIsForOneDriverAtATime) {
    auto first = StartDriver(PortLine());
    ASSERT_EQ(first->state, ReceiptState::ready);
    auto second = StartDriver(PortLine());
    EXPECT_EQ(second->state, ReceiptState::ready);
    EXPECT_FALSE(second->port.isOpen);
    EXPECT_NE(Log().find("->Eroare : Port " + terminal.path() + " inaccesibil"), std::string::npos);
    EXPECT_FALSE(second->ConnectPrinter());
    EXPECT_TRUE(second->RefusalReason().starts_with("printer port " + terminal.path() +
                                                    " cannot be opened: "))
        << second->RefusalReason();

    first.reset();  // releasing the driver closes its port
    EXPECT_TRUE(second->ConnectPrinter()) << second->RefusalReason();
    EXPECT_TRUE(second->port.isOpen);
}

TEST_F(PtyTest, MissingDeviceIsOpenedOnceItAppears) {
    const std::string link = dir.File("ttyPRN");
    auto driver = StartDriver("TVA_GROUPS=A:1\nPort=" + link + "\n");
    EXPECT_EQ(driver->state, ReceiptState::ready);
    EXPECT_NE(Log().find("->Port " + link + " missing: No such file or directory"),
              std::string::npos)
        << Log();
    EXPECT_EQ(Log().find("la la setare"), std::string::npos) << Log();
    EXPECT_FALSE(driver->ConnectPrinter());
    EXPECT_EQ(driver->RefusalReason(),
              "printer port " + link + " cannot be opened: No such file or directory");
    EXPECT_TRUE(driver->Port().lostAt.has_value());

    std::filesystem::create_symlink(terminal.path(), link);
    EXPECT_TRUE(driver->ConnectPrinter()) << driver->RefusalReason();
    const PortHealth health = driver->Port();
    EXPECT_TRUE(health.open);
    EXPECT_EQ(health.inUse, link);
    EXPECT_FALSE(health.lostAt.has_value());
    EXPECT_EQ(health.losses, 0u);

    // Without a Port key the first COM port is meant.
    EXPECT_EQ(StartDriver("TVA_GROUPS=A:1\n")->portName, "COM1");
}

// The other end going away fails the next check, write or read at once (never after the
// read time-out), closes the port and says so once.
TEST_F(PtyTest, LineThatHangsUpClosesThePort) {
    const std::pair<const char*, std::function<bool(PortSerial&)>> rows[] = {
        {"check", [](PortSerial& port) { return port.CheckLine(); }},
        {"write", [](PortSerial& port) { return port.Write("A").ok(); }},
        {"read", [](PortSerial& port) { return port.ReadByte().has_value(); }},
    };
    for (const auto& [name, transfer] : rows) {
        SCOPED_TRACE(name);
        simulator::PseudoTerminal line;
        ASSERT_TRUE(line.Open());
        RegisterLog log;
        log.SetPath(dir.File(std::string(name) + ".log"));
        PortSerial port(&log);
        ASSERT_TRUE(port.Open(line.path(), {}).ok());
        EXPECT_TRUE(port.CheckLine());
        const std::string path = line.path();
        line.Close();
        const auto start = Clock::now();
        EXPECT_FALSE(transfer(port));
        EXPECT_LT(Clock::now() - start, kPortReadTimeout);
        EXPECT_FALSE(port.isOpen);
        EXPECT_EQ(port.losses, 1u);
        EXPECT_TRUE(port.lostAt.has_value());
        EXPECT_FALSE(port.Write("B").ok());  // a closed port is no second loss
        EXPECT_EQ(port.losses, 1u);
        const std::string entries = testing::ReadFile(dir.File(std::string(name) + ".log"));
        EXPECT_NE(entries.find("->Port " + path + " lost: "), std::string::npos) << entries;
    }
}

}  // namespace
}  // namespace tillvane
