// The real service driving the printer simulator over a pseudo-terminal, receipts sent over
// HTTP as a point-of-sale program sends them.

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "registers/serial/link_frame.h"
#include "tests/support/child_process.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"
#include "tools/printer_simulator/pseudo_terminal.h"

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
    // Starts the simulator with `faults` (each a --fault value) and further `arguments`, and
    // returns its Port name.
    std::string StartSimulator(const std::vector<std::string>& faults = {},
                               const std::vector<std::string>& arguments = {}) {
        ChildOptions options{kSimulatorProgram, {"--journal", JournalPath()}, {}, {}, {}};
        for (const std::string& fault : faults) {
            options.arguments.push_back("--fault");
            options.arguments.push_back(fault);
        }
        options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
        simulator_ = std::make_unique<ChildProcess>(options);
        EXPECT_TRUE(simulator_->WaitForStdout("\n", kStartTimeout)) << simulator_->Stderr();
        const std::string out = simulator_->Stdout();
        return out.substr(0, out.find('\n'));
    }

    // Starts the service from a copy in the test's folder, its configuration beside it.
    void StartService(const std::string& portName, const std::string& moreSettings = "") {
        const std::filesystem::path program = dir_.path() / "Tillvane_se";
        std::filesystem::copy_file(kServiceProgram, program,
                                   std::filesystem::copy_options::overwrite_existing);
        // On a port of its own: tried again on another when someone took the port first.
        const std::string appLog = dir_.File("Tillvane_se.log");
        std::string failure;
        port_ = testing::ListenOnFreePort([&](int port) {
            testing::WriteFile(dir_.File("Tillvane_se.ini"),
                               "driverModel=SERIALUFP\nPort=" + portName +
                                   "\nTVA_GROUPS=A:1|B:2\ntcpPort=" + std::to_string(port) + "\n" +
                                   moreSettings);
            const std::size_t offset = testing::FileSize(appLog);
            service_ = std::make_unique<ChildProcess>(
                ChildOptions{program.string(), {}, dir_.path().string(), {}, {"NOTIFY_SOCKET"}});
            const auto outcome = testing::AwaitListening(
                appLog, offset, port, [this] { return !service_->WaitForExit(0ms).has_value(); },
                kStartTimeout);
            if (outcome != testing::ListenOutcome::listening) {
                failure += testing::ReadFile(appLog) + service_->Stderr();
                service_->Signal(SIGTERM);
                service_->WaitForExit(kStopTimeout);
            }
            return outcome;
        });
        ASSERT_NE(port_, 0) << failure;
        ASSERT_EQ(testing::Get(port_, "/").status, 200);
    }

    void TearDown() override { StopAll(); }

    void StopAll() {
        if (service_) {
            service_->Signal(SIGTERM);
            EXPECT_EQ(service_->WaitForExit(kStopTimeout), 0);
            service_.reset();
        }
        if (simulator_) {
            simulator_->Signal(SIGTERM);
            EXPECT_EQ(simulator_->WaitForExit(kStopTimeout), 0);
            simulator_.reset();
        }
    }

    // The reply to one command text sent as a point-of-sale program sends it.
    std::string Send(const std::string& commandText, const std::string& requestId = "") {
        const testing::HttpResponse response = testing::PostForm(
            port_, "/REGCMD",
            "CMD=" + testing::UrlEncode(commandText) +
                (requestId.empty() ? "" : "&REQUESTID=" + testing::UrlEncode(requestId)));
        EXPECT_EQ(response.status, 200) << response.error;
        return response.body;
    }

    std::string JournalPath() const { return dir_.File("journal.txt"); }
    std::vector<std::string> Journal() const { return Lines(testing::ReadFile(JournalPath())); }
    std::string RegisterLog() const { return testing::ReadFile(dir_.File("_Tillvane_se.log")); }
    // The cashier cancels the receipt the printer still holds, at its keys.
    void PressCancelKey() const {
        const auto cancelled = [this] {
            const std::vector<std::string> lines = Journal();
            return std::count(lines.begin(), lines.end(), "RECEIPT CANCELLED AT THE KEYS");
        };
        const auto before = cancelled();
        simulator_->Signal(SIGUSR1);
        EXPECT_TRUE(testing::WaitUntil([&] { return cancelled() > before; }, 5s));
    }
    // Times of day as the status and the replies write them, as "{time}".
    static std::string WithoutTimes(const std::string& text) {
        static const std::regex kTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
        return std::regex_replace(text, kTime, "{time}");
    }
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
    // A report the printer did not confirm is not answered as printed.
    EXPECT_EQ(Send("XR"), "ERR|Printer error 9997 (NAK) on DailyReportsX; see register log");
    EXPECT_EQ(Send("XR"),
              "ERR|Printer error 9998 (empty reply) on DailyReportsX; see register log");
    EXPECT_EQ(Send("XR"), "ERR|Printer error 107 on DailyReportsX; see register log");
    EXPECT_EQ(Send("XR"), "OK|");

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
    EXPECT_EQ(Send("XR"), "ERR|Printer error 9999 (no reply) on DailyReportsX; see register log");
    EXPECT_TRUE(Logged("failCount!=0"));
    EXPECT_TRUE(Logged("DailyReportsX:lastError=9999"));
    EXPECT_EQ(Send("XR"), "OK|");
    EXPECT_EQ(Journal().back(), "X REPORT RECEIPTS 0 TOTAL 0.00");
    // The silent command's sequence number was used again, and matched.
    EXPECT_FALSE(Logged("block mismatch")) << RegisterLog();
}

// The journal without the printer queries made before the first receipt (unless `queries`
// says to keep them), item codes (they come from the clock) written as "#".
std::vector<std::string> ReceiptJournal(const std::vector<std::string>& journal,
                                        bool queries = false) {
    static const std::regex kItemCode(R"(\b\d{11}\b)");
    std::vector<std::string> lines;
    for (const std::string& line : journal) {
        if (!queries &&
            (line.starts_with("SETUP") || line == "READ PARAMETERS" || line == "SOFTWARE VERSION"))
            continue;
        lines.push_back(std::regex_replace(line, kItemCode, "#"));
    }
    return lines;
}

const std::vector<std::string> kOrdinaryJournal = {
    "ITEM # Apa VAT 1",
    "SALE # Apa 2.000 x 2.50",
    "SUBTOTAL 5.00",
    "PAYMENT 0 5.00",
    "CLOSE RECEIPT TOTAL 5.00 PAID 5.00 CHANGE 0.00",
};

// Each row against a fresh simulator with its faults, followed by an ordinary receipt that
// must print whole and alone: the printer's journal shows every command the service sent.
// The status is answered while the driver waits for a silent printer, and then names the
// command the printer failed on.
TEST_F(SerialServiceTest, StatusIsAnsweredWhileThePrinterIsSilent) {
    const std::string device = StartSimulator({"0xA1:silent:once"});
    StartService(device);
    std::future<std::string> report = std::async(std::launch::async, [this] { return Send("XR"); });
    // The simulator has taken the report's command and keeps silent: the driver now waits.
    ASSERT_TRUE(testing::WaitUntil(
        [this] {
            const std::vector<std::string> journal = Journal();
            return std::find(journal.begin(), journal.end(), "FAULT 0xA1 silent") != journal.end();
        },
        kStartTimeout));
    const testing::HttpResponse busy = testing::Get(port_, "/status");
    EXPECT_EQ(busy.status, 200) << busy.error;
    EXPECT_NE(report.wait_for(0s), std::future_status::ready) << "answered only after the printer";
    EXPECT_NE(busy.body.find("\"portName\":\"" + device + "\",\"portInUse\":\"" + device +
                             "\",\"portOpen\":true,\"portLostAt\":null"),
              std::string::npos)
        << busy.body;

    EXPECT_TRUE(report.get().starts_with("ERR|Printer error 9999"));
    const std::string status = testing::Get(port_, "/status").body;
    EXPECT_TRUE(std::regex_search(
        status,
        std::regex(
            R"("lastPrinterError":\{"command":"DailyReportsX","code":9999,"time":"[^"]+Z","reason":null\})")))
        << status;
    const std::string metrics = testing::Get(port_, "/metrics").body;
    EXPECT_NE(metrics.find("tillvane_printer_errors_total{code=\"9999\"} 1\n"), std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("tillvane_port_open 1\n"), std::string::npos) << metrics;
}

TEST_F(SerialServiceTest, FailuresAreAnsweredAndTheNextReceiptPrintsAlone) {
    const std::string receipt = "BS|SI^Apa^2.50^2^A|AP^0^5.00|ES";
    const std::string unknownGroup = "ERR|EROARE PROTOCOL WEB LA LINIA [SI^Lapte^4^1^Z], check log";
    // A command of a receipt that the printer did not confirm ends the receipt there.
    const auto abandoned = [](const std::string& line, const std::string& error) {
        return "ERR|" + (line.empty() ? "" : "EROARE PROTOCOL WEB LA LINIA [" + line + "], ") +
               error + "; see register log; receipt abandoned, nothing more sent";
    };
    const std::string silentText = "BS|SI^a^1^1^A|PT^hello|AP^0^1|ES";
    // "KEYS": the cashier cancels the open receipt at the printer; "RESTART": the service
    // starts again; a path: the page's body holds the text ("{time}" for any time).
    const std::pair<std::string, std::string> keys{"KEYS", ""};
    const std::string kItemError = "Printer error 1002 on SellItem";
    const std::string itemRefused =
        "the printer holds an unfinished receipt since {time} (" + kItemError +
        "); the service cannot end it: finish or cancel it at the printer's keys, then send "
        "this again";
    const auto notSupported = [](const std::string& line) {
        return "ERR|EROARE PROTOCOL WEB LA LINIA [" + line + "], not supported by this printer";
    };
    const struct {
        const char* name;
        std::vector<std::string> faults;
        std::vector<std::pair<std::string, std::string>> requests;  // text, reply
        std::vector<std::string> journal;  // before the ordinary receipt's own lines
        std::string logged;                // a register log entry the row must leave
    } rows[] = {
        // The failed sale is abandoned on the spot: the service sends nothing more, and the
        // printer keeps it open until the cashier cancels it at its keys ("KEYS").
        {"UnknownVatGroup",
         {},
         {{"BS|SI^Paine^3^1^A|SI^Lapte^4^1^Z|AP^0^7|ES", unknownGroup}, keys},
         {"OPEN RECEIPT", "ITEM # Paine VAT 1", "SALE # Paine 1.000 x 3.00",
          "RECEIPT CANCELLED AT THE KEYS", "OPEN RECEIPT"},
         "Receipt abandoned: EROARE PROTOCOL WEB LA LINIA [SI^Lapte^4^1^Z], check log"},
        // A close the printer never confirmed: two sales never come out as one under "OK|".
        {"SilentClose",
         {"0x65:silent:once"},
         {{receipt, abandoned("", "Printer error 9999 (no reply) on CloseReceipt")}, keys},
         {"OPEN RECEIPT", "ITEM # Apa VAT 1", "SALE # Apa 2.000 x 2.50", "SUBTOTAL 5.00",
          "PAYMENT 0 5.00", "FAULT 0x65 silent", "RECEIPT CANCELLED AT THE KEYS", "OPEN RECEIPT"},
         "CloseReceipt:lastError=9999"},
        {"PaymentRefused",
         {"0x67:error=2004:once"},
         {{receipt, abandoned("AP^0^5.00", "Printer error 2004 on Payment")}, keys},
         {"OPEN RECEIPT", "ITEM # Apa VAT 1", "SALE # Apa 2.000 x 2.50", "SUBTOTAL 5.00",
          "FAULT 0x67 error=2004", "RECEIPT CANCELLED AT THE KEYS", "OPEN RECEIPT"},
         "Receipt abandoned: Printer error 2004 on Payment"},
        // Nothing after the text the printer did not confirm goes out: the till's resend is
        // the only receipt that closes.
        {"SilentTextEndsTheReceipt",
         {"0x61:silent:once"},
         {{silentText, abandoned("PT^hello", "Printer error 9999 (no reply) on PrintText")},
          keys,
          {silentText, "OK|"}},
         {"OPEN RECEIPT", "ITEM # a VAT 1", "SALE # a 1.000 x 1.00", "FAULT 0x61 silent",
          "RECEIPT CANCELLED AT THE KEYS", "OPEN RECEIPT", "ITEM # a VAT 1",
          "SALE # a 1.000 x 1.00", "TEXT hello", "SUBTOTAL 1.00", "PAYMENT 0 1.00",
          "CLOSE RECEIPT TOTAL 1.00 PAID 1.00 CHANGE 0.00", "OPEN RECEIPT"},
         "Receipt abandoned: Printer error 9999 (no reply) on PrintText"},
        // A report between a receipt's failed command and its close does not bring it back.
        // The printer holds the receipt: the status, the page and every report or RO say so,
        // also after a restart, until the cashier ends it at the keys.
        {"ReportAfterAFailedItem",
         {"0x64:error=1002:once"},
         {{"BS|SI^Apa^2.50^2^A", abandoned("SI^Apa^2.50^2^A", "Printer error 1002 on SellItem")},
          {"XR", "ERR|Printer error 2005 on DailyReportsX; see register log; " + itemRefused},
          {"AP^0^5.00|ES", "ERR|EROARE PROTOCOL WEB LA LINIA [AP^0^5.00], no receipt open"},
          {"/status", R"("unfinishedReceipt":{"since":"{time}","reason":")" + kItemError + "\"}"},
          {"/metrics", "tillvane_unfinished_receipt 1\n"},
          {"/status.html",
           "Degraded: the printer holds an unfinished receipt since {time} (" + kItemError + ")"},
          {"RESTART", ""},
          {"RO", "ERR|" + itemRefused},
          {"/status", R"("unfinishedReceipt":{"since":"{time}","reason":")" + kItemError + "\"}"},
          {"BS|SI^Apa^2.50^2^A",
           "ERR|EROARE PROTOCOL WEB LA LINIA [BS], Printer error 2007 on BeginSell; see register "
           "log; receipt abandoned, nothing more sent; " +
               itemRefused},
          keys},
         {"OPEN RECEIPT", "ITEM # Apa VAT 1", "FAULT 0x64 error=1002",
          "REFUSED 0xA1 2005 report while a receipt is open",
          "REFUSED 0x63 2007 a receipt is open already", "RECEIPT CANCELLED AT THE KEYS",
          "OPEN RECEIPT"},
         "SellItem:lastError=1002"},
        // No close would report an item sold outside a receipt: it answers for its own codes.
        {"ItemOutsideAReceipt",
         {},
         {{"SI^Apa^2.50^2^A",
           "ERR|EROARE PROTOCOL WEB LA LINIA [SI^Apa^2.50^2^A], Printer "
           "error 2001 on SellItem; see register log"}},
         {"ITEM # Apa VAT 1", "REFUSED 0x64 2001 no receipt open", "OPEN RECEIPT"},
         "SellItem:lastError=2001"},
        // The link's framing bytes in a name or a text reach the printer as blanks.
        {"ControlBytesInTexts",
         {},
         {{"BS|SI^A\x02"
           "B\x03"
           "C\x05"
           "D^2.50^2^A|PT^x\x02"
           "y\x03"
           "z\x05"
           "w|AP^0^5.00|ES",
           "OK|"}},
         {"OPEN RECEIPT", "ITEM # A B C D VAT 1", "SALE # A B C D 2.000 x 2.50", "TEXT x y z w",
          "SUBTOTAL 5.00", "PAYMENT 0 5.00", "CLOSE RECEIPT TOTAL 5.00 PAID 5.00 CHANGE 0.00",
          "OPEN RECEIPT"},
         "SerialUFP (universal fiscal printer) model initiated"},
        {"ReportNotConfirmed",
         {"0xA1:nak:once"},
         {{"ZR", "ERR|Printer error 9997 (NAK) on DailyReportsZ; see register log"}, {"ZR", "OK|"}},
         {"FAULT 0xA1 nak", "Z REPORT RECEIPTS 0 TOTAL 0.00", "OPEN RECEIPT"},
         "DailyReportsZ:lastError=9997"},
        // A ";" in a name would end the name field and sell in VAT group 9.
        {"SemicolonInName",
         {},
         {{"BS|SI^Apa;9^2.50^2^A|AP^0^5.00|ES", "OK|"}},
         {"OPEN RECEIPT", "ITEM # Apa 9 VAT 1", "SALE # Apa 9 2.000 x 2.50", "SUBTOTAL 5.00",
          "PAYMENT 0 5.00", "CLOSE RECEIPT TOTAL 5.00 PAID 5.00 CHANGE 0.00", "OPEN RECEIPT"},
         "SerialUFP (universal fiscal printer) model initiated"},
        // The printer has no discount, cash in or out, or duplicate: never answered as done.
        {"NotSupported",
         {},
         {{"BS|SI^Apa^2.50^2^A|DC^10|AP^0^4.50|ES", notSupported("DC^10")},
          keys,
          {"BS|IO^-5|ES", notSupported("IO^-5")},
          keys,
          {"DR", notSupported("DR")}},
         {"OPEN RECEIPT", "ITEM # Apa VAT 1", "SALE # Apa 2.000 x 2.50",
          "RECEIPT CANCELLED AT THE KEYS", "OPEN RECEIPT", "RECEIPT CANCELLED AT THE KEYS",
          "OPEN RECEIPT"},
         "ReceiptDuplicate: not supported by this printer"},
        {"NeverEnded",
         {},
         {{"BS|SI^Paine^3^1^A", "OK|"}, keys},
         {"OPEN RECEIPT", "ITEM # Paine VAT 1", "SALE # Paine 1.000 x 3.00",
          "RECEIPT CANCELLED AT THE KEYS", "OPEN RECEIPT"},
         "Receipt abandoned: left open by an earlier request"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(JournalPath());
        std::filesystem::remove(dir_.File("_Tillvane_se.log"));
        const std::string device = StartSimulator(row.faults);
        StartService(device);
        for (const auto& [text, reply] : row.requests) {
            if (text == "KEYS") {
                PressCancelKey();
            } else if (text == "RESTART") {
                service_->Signal(SIGTERM);
                EXPECT_EQ(service_->WaitForExit(kStopTimeout), 0);
                StartService(device);
            } else if (text.starts_with("/")) {
                const std::string body = WithoutTimes(testing::Get(port_, text).body);
                EXPECT_NE(body.find(reply), std::string::npos) << text << ": " << body;
            } else {
                EXPECT_EQ(WithoutTimes(Send(text)), reply) << text;
            }
        }
        EXPECT_EQ(Send(receipt), "OK|");
        EXPECT_NE(testing::Get(port_, "/status").body.find(R"("unfinishedReceipt":null)"),
                  std::string::npos);
        std::vector<std::string> expected = row.journal;
        expected.insert(expected.end(), kOrdinaryJournal.begin(), kOrdinaryJournal.end());
        EXPECT_EQ(ReceiptJournal(Journal()), expected);
        EXPECT_TRUE(Logged(row.logged)) << RegisterLog();
        StopAll();
    }
}

}  // namespace
}  // namespace tillvane

namespace tillvane {
namespace {

// A till that retries while its first request still runs at a slow printer: the retry waits
// for that run and gets its answer; the printer sees the report once.
TEST_F(SerialServiceTest, RetryOfARunningRequestWaitsForItsAnswer) {
    StartService(StartSimulator({"0xA1:silent:once"}));
    const std::string body = "CMD=XR&REQUESTID=till1:42";
    const std::string reply =
        "ERR|Printer error 9999 (no reply) on DailyReportsX; see register log";
    testing::HttpResponse first;
    std::thread firstTill([&] { first = testing::PostForm(port_, "/REGCMD", body); });
    const std::string journal = dir_.File("Tillvane_se.jsonl");
    // The first is admitted: its start is recorded and it runs at the silent printer.
    EXPECT_TRUE(testing::WaitUntil(
        [&] { return testing::ReadFile(journal).find("\"event\":\"start\"") != std::string::npos; },
        kStartTimeout));
    const testing::HttpResponse retry = testing::PostForm(port_, "/REGCMD", body);
    firstTill.join();
    EXPECT_EQ(first.body, reply);
    EXPECT_EQ(retry.body, reply);
    EXPECT_EQ(retry.status, 200);
    // Later retries are answered from the record; the printer saw one report.
    EXPECT_EQ(testing::PostForm(port_, "/REGCMD", body).body, reply);
    EXPECT_EQ(Send("XR"), "OK|");
    int reports = 0;
    for (const std::string& line : Journal()) {
        if (line.starts_with("FAULT") || line.starts_with("X REPORT")) ++reports;
    }
    EXPECT_EQ(reports, 2) << testing::ReadFile(JournalPath());
    const std::string records = testing::ReadFile(journal);
    EXPECT_NE(records.find("\"replay\":true,\"ran\":false"), std::string::npos) << records;
    // Both retries count as replays: the one that waited and the one answered from the record.
    const std::string status = testing::Get(port_, "/status").body;
    EXPECT_NE(status.find("\"replays\":2"), std::string::npos) << status;
}

}  // namespace
}  // namespace tillvane

namespace tillvane {
namespace {

// A device that is not the printer: every frame it receives is answered with noise.
class NoisyDevice {
  public:
    NoisyDevice() {
        EXPECT_TRUE(terminal_.Open());
        thread_ = std::thread([this] { Serve(); });
    }
    ~NoisyDevice() {
        stop_ = true;
        thread_.join();
    }
    NoisyDevice(const NoisyDevice&) = delete;
    NoisyDevice& operator=(const NoisyDevice&) = delete;

    const std::string& path() const { return terminal_.path(); }
    int frames() const { return frames_; }

  private:
    void Serve() {
        constexpr std::string_view kNoise =
            "\x01garbage\x04"
            "0000\x03";
        while (!stop_) {
            pollfd entry{terminal_.fd(), POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0) continue;
            char byte = 0;
            if (read(terminal_.fd(), &byte, 1) != 1 || byte != link::kFrameEnd) continue;
            ++frames_;
            EXPECT_EQ(write(terminal_.fd(), kNoise.data(), kNoise.size()),
                      static_cast<ssize_t>(kNoise.size()));
        }
    }

    simulator::PseudoTerminal terminal_;
    std::atomic<bool> stop_{false};
    std::atomic<int> frames_{0};
    std::thread thread_;
};

// The printer's line comes and goes as a USB adapter does: "plug" starts a simulator and points
// a link (the adapter's device name) at its pseudo-terminal, "unplug" stops it and removes the
// link. A printer on the network ({tcpPRN}) is plugged in as a simulator listening on the row's
// TCP port ("tcp" and the simulator's further arguments). The service is never restarted
// within a row.
TEST_F(SerialServiceTest, PrinterLineHealsItself) {
    enum class Step {
        start,
        plug,
        unplug,
        receipt,
        retriedReceipt,  // sent with the same REQUESTID each time
        handshake,
        journal,  // the whole journal, item codes as "#", lines joined by "|"
        status,
        metrics,
        logged,
        noisy,
        keys  // the cashier cancels the receipt the printer still holds
    };
    const std::string receipt = "BS|SI^Apa^2.50^2^A|AP^0^5.00|ES";
    const std::string statusOpen = R"("portInUse":"{ttyPRN}","portOpen":true,"portLostAt":null)";
    const std::string missing =
        "ERR|printer port {ttyPRN} cannot be opened: "
        "No such file or directory";
    const std::string refused = "ERR|printer port {tcpPRN} cannot be opened: Connection refused";
    const std::string handshake = "SETUP 20;0;|READ PARAMETERS|SOFTWARE VERSION|";
    const std::string paidNotClosed =
        "OPEN RECEIPT|ITEM # Apa VAT 1|SALE # Apa 2.000 x 2.50|"
        "SUBTOTAL 5.00|FAULT 0x67 cut|PAYMENT 0 5.00|";
    const struct {
        const char* name;
        std::string port;  // Port, or "auto"
        std::string candidates;
        std::vector<std::pair<Step, std::string>> steps;
    } rows[] = {
        {"UnplugAndPlugBack",
         "{ttyPRN}",
         "",
         {{Step::plug, "ttyPRN"},
          {Step::start, ""},
          {Step::receipt, "OK|"},
          {Step::status, statusOpen},
          {Step::unplug, "ttyPRN"},
          {Step::receipt, missing},
          {Step::logged, "Port {ttyPRN} lost: "},
          {Step::status,
           R"("portName":"{ttyPRN}","portInUse":null,"portOpen":false,"portLostAt":"2)"},
          {Step::metrics, "tillvane_port_open 0\n"},
          {Step::metrics, "tillvane_port_losses_total 1\n"},
          {Step::plug, "ttyPRN"},
          {Step::receipt, "OK|"},
          {Step::handshake, ""},
          {Step::status, statusOpen},
          {Step::metrics, "tillvane_port_open 1\n"}}},
        {"StartedWithThePortMissing",
         "{ttyPRN}",
         "",
         {{Step::start, ""},
          {Step::logged, "Port {ttyPRN} missing: No such file or directory"},
          {Step::status, R"("portInUse":null,"portOpen":false,"portLostAt":"2)"},
          {Step::receipt, missing},
          {Step::plug, "ttyPRN"},
          {Step::receipt, "OK|"},
          {Step::handshake, ""},
          {Step::metrics, "tillvane_port_losses_total 0\n"}}},
        // A name with nothing behind it and a device that answers noise are passed over; the
        // noisy one sees the one probe and nothing after it.
        {"AutoFindsThePrinter",
         "auto",
         "{nothing}, {noisy} {ttyPRN}",
         {{Step::plug, "ttyPRN"},
          {Step::start, ""},
          {Step::logged, "Printer found on {ttyPRN}"},
          {Step::receipt, "OK|"},
          {Step::handshake, "after the probe"},
          {Step::receipt, "OK|"},
          {Step::status, R"("portName":"auto","portInUse":"{ttyPRN}","portOpen":true)"},
          {Step::noisy, "1"}}},
        // While no printer is found, a device that answered noise is left alone for a while:
        // the requests after the start's probe send it nothing.
        {"AutoLeavesAForeignDeviceAlone",
         "auto",
         "{noisy}",
         {{Step::start, ""},
          {Step::receipt, "ERR|no printer answered on {noisy}"},
          {Step::receipt, "ERR|no printer answered on {noisy}"},
          {Step::noisy, "1"}}},
        // The adapter comes back under another name, as Windows gives it another COM number.
        {"AutoFoundPortLostFoundElsewhere",
         "auto",
         "{ttyPRN},{ttyPRN2}",
         {{Step::plug, "ttyPRN"},
          {Step::start, ""},
          {Step::receipt, "OK|"},
          {Step::unplug, "ttyPRN"},
          {Step::receipt, "ERR|no printer answered on {ttyPRN}, {ttyPRN2}"},
          {Step::plug, "ttyPRN2"},
          {Step::receipt, "OK|"},
          {Step::handshake, "after the probe"},
          {Step::logged, "Printer found on {ttyPRN2}"},
          {Step::status, R"("portInUse":"{ttyPRN2}","portOpen":true,"portLostAt":null)"},
          {Step::metrics, "tillvane_port_losses_total 1\n"}}},
        {"ReceiptOverTcp",
         "{tcpPRN}",
         "",
         {{Step::plug, "tcp"},
          {Step::start, ""},
          {Step::receipt, "OK|"},
          {Step::handshake, ""},
          {Step::status, R"("portName":"{tcpPRN}","portInUse":"{tcpPRN}","portOpen":true)"}}},
        {"NetworkPrinterOffAtStartThenOn",
         "{tcpPRN}",
         "",
         {{Step::start, ""},
          {Step::logged, "Port {tcpPRN} cannot be opened: Connection refused"},
          {Step::receipt, refused},
          {Step::status, R"("portInUse":null,"portOpen":false,"portLostAt":"2)"},
          {Step::plug, "tcp"},
          {Step::receipt, "OK|"},
          {Step::handshake, ""}}},
        // The printer took the payment and reset the connection in its reply: the receipt
        // fails, its retry is answered from the record, and the next receipt reconnects.
        {"ConnectionResetInTheMiddleOfAReceipt",
         "{tcpPRN}",
         "",
         {{Step::plug, "tcp --fault 0x67:cut:once"},
          {Step::start, ""},
          {Step::retriedReceipt,
           "ERR|EROARE PROTOCOL WEB LA LINIA [AP^0^5.00], Printer error 9999 (no reply) on "
           "Payment; see register log; receipt abandoned, nothing more sent"},
          {Step::logged, "Port {tcpPRN} lost: Connection reset by peer"},
          {Step::status, R"("portOpen":false,"portLostAt":"2)"},
          {Step::metrics, "tillvane_port_losses_total 1\n"},
          {Step::retriedReceipt,
           "ERR|EROARE PROTOCOL WEB LA LINIA [AP^0^5.00], Printer error 9999 (no reply) on "
           "Payment; see register log; receipt abandoned, nothing more sent"},
          {Step::journal, handshake + paidNotClosed},
          {Step::status, R"("unfinishedReceipt":{"since":")"},
          {Step::keys, ""},
          {Step::receipt, "OK|"},
          {Step::journal, handshake + paidNotClosed + "RECEIPT CANCELLED AT THE KEYS|" + handshake +
                              "OPEN RECEIPT|ITEM # Apa VAT 1|"
                              "SALE # Apa 2.000 x 2.50|SUBTOTAL 5.00|PAYMENT 0 5.00|"
                              "CLOSE RECEIPT TOTAL 5.00 PAID 5.00 CHANGE 0.00|"},
          {Step::status, R"("portOpen":true,"portLostAt":null)"}}},
        {"NetworkPrinterRebootedBetweenReceipts",
         "{tcpPRN}",
         "",
         {{Step::plug, "tcp"},
          {Step::start, ""},
          {Step::receipt, "OK|"},
          {Step::unplug, "tcp"},
          {Step::plug, "tcp"},
          {Step::receipt, "OK|"},
          {Step::handshake, ""},
          {Step::logged, "Port {tcpPRN} lost: the printer closed the connection"},
          {Step::metrics, "tillvane_port_losses_total 1\n"}}},
        {"AutoFindsANetworkPrinter",
         "auto",
         "{nothing} {tcpPRN}",
         {{Step::plug, "tcp"},
          {Step::start, ""},
          {Step::logged, "Printer found on {tcpPRN}"},
          {Step::receipt, "OK|"},
          {Step::handshake, "after the probe"}}},
        {"NetworkPrinterRefusesConnections",
         "{tcpPRN}",
         "",
         {{Step::plug, "tcp --refuse 600000"},
          {Step::start, ""},
          {Step::receipt, refused},
          {Step::metrics, "tillvane_port_open 0\n"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        NoisyDevice noisy;
        const int tcpPort = testing::FreeTcpPort();
        const std::string tcpAddress = "127.0.0.1:" + std::to_string(tcpPort);
        const auto expand = [&](std::string text) {
            const std::pair<std::string, std::string> names[] = {
                {"{tcpPRN}", "tcp://" + tcpAddress}, {"{ttyPRN}", dir_.File("ttyPRN")},
                {"{ttyPRN2}", dir_.File("ttyPRN2")}, {"{nothing}", dir_.File("nothing")},
                {"{noisy}", noisy.path()},
            };
            for (const auto& [name, path] : names) {
                for (std::size_t at = text.find(name); at != std::string::npos;
                     at = text.find(name, at + path.size())) {
                    text.replace(at, name.size(), path);
                }
            }
            return text;
        };
        std::filesystem::remove(dir_.File("_Tillvane_se.log"));
        // Since the last plug-in, until a receipt printed after it.
        std::chrono::steady_clock::time_point pluggedIn{};
        bool waitingForReceipt = false;
        for (const auto& [step, text] : row.steps) {
            const std::string expected = expand(text);
            switch (step) {
                case Step::start: {
                    const std::string candidates =
                        row.candidates.empty() ? ""
                                               : "portCandidates=" + expand(row.candidates) + "\n";
                    StartService(expand(row.port), candidates);
                    break;
                }
                case Step::plug: {
                    std::filesystem::remove(JournalPath());
                    std::vector<std::string> arguments;
                    std::istringstream words(text);
                    for (std::string word; words >> word;) arguments.push_back(word);
                    if (arguments.front() == "tcp") {
                        arguments.front() = "--tcp";
                        arguments.insert(arguments.begin() + 1, tcpAddress);
                        EXPECT_EQ(StartSimulator({}, arguments), expand("{tcpPRN}"));
                    } else {
                        // Moved into place at once, as a device node appears.
                        const std::string device = StartSimulator();
                        const std::string link = dir_.File(text);
                        std::filesystem::create_symlink(device, link + ".new");
                        std::filesystem::rename(link + ".new", link);
                    }
                    pluggedIn = std::chrono::steady_clock::now();
                    waitingForReceipt = service_ != nullptr;
                    break;
                }
                case Step::keys:
                    PressCancelKey();
                    break;
                case Step::unplug:
                    simulator_->Signal(SIGTERM);
                    EXPECT_EQ(simulator_->WaitForExit(kStopTimeout), 0);
                    simulator_.reset();
                    std::filesystem::remove(dir_.File(text));
                    break;
                case Step::receipt:
                case Step::retriedReceipt:
                    EXPECT_EQ(Send(receipt, step == Step::retriedReceipt ? "till1:7" : ""),
                              expected)
                        << RegisterLog();
                    if (expected == "OK|" && waitingForReceipt) {
                        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - pluggedIn);
                        std::printf("%s: plug-in to printed receipt %lld ms\n", row.name,
                                    static_cast<long long>(elapsed.count()));
                        waitingForReceipt = false;
                    }
                    break;
                case Step::handshake: {
                    // The new printer's journal: the probe's query first when it was looked for.
                    std::vector<std::string> expectedStart = {"SETUP 20;0;", "READ PARAMETERS",
                                                              "SOFTWARE VERSION", "OPEN RECEIPT"};
                    if (text == "after the probe")
                        expectedStart.insert(expectedStart.begin(), "SOFTWARE VERSION");
                    std::vector<std::string> journal = Journal();
                    journal.resize(std::min(journal.size(), expectedStart.size()));
                    EXPECT_EQ(journal, expectedStart) << testing::ReadFile(JournalPath());
                    break;
                }
                case Step::journal: {
                    std::string joined;
                    for (const std::string& line : ReceiptJournal(Journal(), /*queries=*/true)) {
                        joined += line + "|";
                    }
                    EXPECT_EQ(joined, expected);
                    break;
                }
                case Step::status:
                case Step::metrics: {
                    // The driver publishes its state just after it logs it: await, not race.
                    const char* path = step == Step::status ? "/status" : "/metrics";
                    std::string body;
                    EXPECT_TRUE(testing::WaitUntil(
                        [&] {
                            body = testing::Get(port_, path).body;
                            return body.find(expected) != std::string::npos;
                        },
                        5s))
                        << body;
                    break;
                }
                case Step::logged:
                    EXPECT_TRUE(Logged(expected)) << RegisterLog();
                    break;
                case Step::noisy:
                    EXPECT_EQ(std::to_string(noisy.frames()), expected);
                    break;
            }
        }
        StopAll();
        for (const char* link : {"ttyPRN", "ttyPRN2"}) std::filesystem::remove(dir_.File(link));
    }
}

}  // namespace
}  // namespace tillvane
