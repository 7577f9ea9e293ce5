// The real service driving the printer simulator over a pseudo-terminal, receipts sent over
// HTTP as a point-of-sale program sends them.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;
using testing::ChildOptions;
using testing::ChildProcess;

const std::string kServiceProgram = std::string(TILLVANE_BINARY_DIR) + "/service/Tillvane_se";
const std::string kSimulatorProgram =
    std::string(TILLVANE_BINARY_DIR) + "/tools/printer_simulator/printer_simulator";
constexpr auto kStartTimeout = 10s;
constexpr auto kStopTimeout = 15s;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class SerialServiceTest : public ::testing::Test {
  protected:
    // Starts the simulator with `faults` (each a --fault value) and returns its device path.
    std::string StartSimulator(const std::vector<std::string>& faults = {}) {
        ChildOptions options{kSimulatorProgram, {"--journal", JournalPath()}, {}, {}, {}};
        for (const std::string& fault : faults) {
            options.arguments.push_back("--fault");
            options.arguments.push_back(fault);
        }
        simulator_ = std::make_unique<ChildProcess>(options);
        EXPECT_TRUE(simulator_->WaitForStdout("\n", kStartTimeout)) << simulator_->Stderr();
        const std::string out = simulator_->Stdout();
        return out.substr(0, out.find('\n'));
    }

    // Starts the service from a copy in the test's folder, its configuration beside it.
    void StartService(const std::string& portName) {
        const std::filesystem::path program = dir_.path() / "Tillvane_se";
        std::filesystem::copy_file(kServiceProgram, program);
        port_ = testing::FreeTcpPort();
        ASSERT_NE(port_, 0);
        testing::WriteFile(dir_.File("Tillvane_se.ini"),
                           "driverModel=SERIALUFP\nPort=" + portName +
                               "\nTVA_GROUPS=A:1|B:2\ntcpPort=" + std::to_string(port_) + "\n");
        service_ = std::make_unique<ChildProcess>(
            ChildOptions{program.string(), {}, dir_.path().string(), {}, {"NOTIFY_SOCKET"}});
        ASSERT_TRUE(testing::WaitUntil([this] { return testing::Get(port_, "/").status == 200; },
                                       kStartTimeout))
            << service_->Stdout() << service_->Stderr();
    }

    void TearDown() override {
        if (service_) {
            service_->Signal(SIGTERM);
            EXPECT_EQ(service_->WaitForExit(kStopTimeout), 0);
        }
        if (simulator_) {
            simulator_->Signal(SIGTERM);
            EXPECT_EQ(simulator_->WaitForExit(kStopTimeout), 0);
        }
    }

    // The reply to one command text sent as a point-of-sale program sends it.
    std::string Send(const std::string& commandText) {
        const testing::HttpResponse response =
            testing::PostForm(port_, "/REGCMD", "CMD=" + testing::UrlEncode(commandText));
        EXPECT_EQ(response.status, 200) << response.error;
        return response.body;
    }

    std::string JournalPath() const { return dir_.File("journal.txt"); }
    std::vector<std::string> Journal() const { return Lines(testing::ReadFile(JournalPath())); }
    std::string RegisterLog() const { return testing::ReadFile(dir_.File("_Tillvane_se.log")); }
    bool Logged(const std::string& entry) const {
        return RegisterLog().find("->" + entry) != std::string::npos;
    }

    testing::TempDir dir_;
    int port_ = 0;
    std::unique_ptr<ChildProcess> simulator_;
    std::unique_ptr<ChildProcess> service_;
};

TEST_F(SerialServiceTest, ReceiptAndReportArePrinted) {
    StartService(StartSimulator());
    EXPECT_EQ(Send("BS|SI^Apa^2.50^2^A|PT^Multumim|AP^0^5.00|ES"), "OK|");
    EXPECT_EQ(Send("ZR"), "OK|");

    const std::vector<std::string> journal = Journal();
    ASSERT_EQ(journal.size(), 11u) << testing::ReadFile(JournalPath());
    const std::string itemCode = journal[4].substr(5, 11);
    const std::vector<std::string> expected = {
        "SETUP 20;0;",
        "READ PARAMETERS",
        "SOFTWARE VERSION",
        "OPEN RECEIPT",
        "ITEM " + itemCode + " Apa VAT 1",
        "SALE " + itemCode + " Apa 2.000 x 2.50",
        "TEXT Multumim",
        "SUBTOTAL 5.00",
        "PAYMENT 0 5.00",
        "CLOSE RECEIPT TOTAL 5.00 PAID 5.00 CHANGE 0.00",
        "Z REPORT RECEIPTS 1 TOTAL 5.00",
    };
    EXPECT_EQ(journal, expected);
    EXPECT_TRUE(Logged("SerialUFP (universal fiscal printer) model initiated"));
    EXPECT_EQ(RegisterLog().find(":lastError="), std::string::npos) << RegisterLog();
}

TEST_F(SerialServiceTest, PrinterFaultsAreLoggedAndTheRequestsStillAnswered) {
    StartService(StartSimulator({
        "0x88:error=5",  // an answer the driver does not read: it must not be taken for the next
        "0x24:badseq:once",
        "0x6D:garbage:once",
        "0xA1:nak:once",
        "0xA1:empty:once",
        "0xA1:error=107:once",
    }));
    EXPECT_EQ(Send("BS|SI^Apa^2.50^2^A|AP^0^5.00|ES"), "OK|");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Send("XR"), "OK|");

    EXPECT_TRUE(Logged("block mismatch:seq[")) << RegisterLog();
    EXPECT_TRUE(Logged("DailyReportsX:lastError=9997"));
    EXPECT_TRUE(Logged("Empty response"));
    EXPECT_TRUE(Logged("DailyReportsX:lastError=9998"));
    EXPECT_TRUE(Logged("DailyReportsX:lastError=107"));
    EXPECT_FALSE(Logged("RcvPrinterPar")) << RegisterLog();
    EXPECT_FALSE(Logged("DisplayTotal")) << RegisterLog();

    const std::vector<std::string> journal = Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_NE(
        std::find(journal.begin(), journal.end(), "CLOSE RECEIPT TOTAL 5.00 PAID 5.00 CHANGE 0.00"),
        journal.end());
    EXPECT_EQ(journal.back(), "X REPORT RECEIPTS 1 TOTAL 5.00");
}

// Pays three one-second reads.
TEST_F(SerialServiceTest, SilentPrinterCostsOneCommandAndTheNextGoesThrough) {
    StartService(StartSimulator({"0xA1:silent:once"}));
    EXPECT_EQ(Send("XR"), "OK|");
    EXPECT_TRUE(Logged("failCount!=0"));
    EXPECT_TRUE(Logged("DailyReportsX:lastError=9999"));
    EXPECT_EQ(Send("XR"), "OK|");
    EXPECT_EQ(Journal().back(), "X REPORT RECEIPTS 0 TOTAL 0.00");
    // The silent command's sequence number was used again, and matched.
    EXPECT_FALSE(Logged("block mismatch")) << RegisterLog();
}

TEST_F(SerialServiceTest, MissingPortRefusesReceipts) {
    const std::string missing = dir_.File("no-such-port");
    StartService(missing);
    EXPECT_TRUE(Send("BS|SI^Apa^2.50^2^A|AP^0^5.00|ES").starts_with("ERR|"));
    EXPECT_TRUE(Send("ZR").starts_with("ERR|"));
    EXPECT_TRUE(Logged("Eroare : Port " + missing + " inaccesibil"));
    EXPECT_TRUE(Logged("BeginSell: Status not ready or afterSell"));
}

}  // namespace
}  // namespace tillvane
