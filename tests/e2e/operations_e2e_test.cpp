// What an operator watches through the real program: the status as JSON, the metrics in the
// Prometheus text format, and the status page in a browser.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace tillvane::testing {
namespace {

// A sample of the text exposition format: name, optional labels, a number.
const std::regex kSampleLine(R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{[^}]*\})? (\S+)$)");
const std::regex kTypeLine(R"(^# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram)$)");

// The metrics by series ("name{labels}"); every sample must belong to a declared family and
// carry a number, or the test fails.
std::map<std::string, double> ParseMetrics(const std::string& text) {
    std::map<std::string, double> samples;
    std::map<std::string, std::string> types;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_match(line, match, kTypeLine)) {
            types[match[1]] = match[2];
        } else if (line.starts_with("# HELP ")) {
            continue;
        } else if (std::regex_match(line, match, kSampleLine)) {
            std::string family = match[1];
            for (const char* suffix : {"_bucket", "_sum", "_count"}) {
                if (family.ends_with(suffix) && !types.contains(family)) {
                    family.resize(family.size() - std::string(suffix).size());
                }
            }
            EXPECT_TRUE(types.contains(family)) << "no TYPE before: " << line;
            std::size_t used = 0;
            const std::string value = match[3];
            const double number = value == "+Inf" ? 1e300 : std::stod(value, &used);
            EXPECT_TRUE(value == "+Inf" || used == value.size()) << line;
            samples[std::string(match[1]) + std::string(match[2])] = number;
        } else {
            ADD_FAILURE() << "not exposition format: [" << line << "]";
        }
    }
    return samples;
}

class OperationsEndToEnd : public TextDriverEndToEnd {
  protected:
    void Start(std::vector<std::string> settings = {}) {
        settings.insert(settings.begin(), "TVA_GROUPS=A:1");
        StartTextDriver(settings);
    }

    std::string Send(const std::string& body) {
        const HttpResponse response = PostForm(port_, "/REGCMD", body);
        EXPECT_EQ(response.status, 200) << response.error;
        return response.body;
    }

    // One receipt that prints and its retry (a replay), one that fails, one refused before it
    // runs.
    void SendOneOfEach() {
        const std::string receipt = "CMD=" + UrlEncode("BS|SI^Apa^2.50^2^A|AP^0^5.00|ES");
        EXPECT_EQ(Send(receipt + "&REQUESTID=once"), "OK|");
        EXPECT_EQ(Send(receipt + "&REQUESTID=once"), "OK|");
        EXPECT_TRUE(
            Send("CMD=" + UrlEncode("BS|SI^Apa^2.50^2^Z|AP^0^5.00|ES")).starts_with("ERR|"));
        EXPECT_EQ(Send("CMDBASE64=%21%21"), "ERR|invalid Base64 at position 1");
    }
};

TEST_F(OperationsEndToEnd, StatusTellsEveryFigureWithItsType) {
    Start();
    SendOneOfEach();
    const HttpResponse response = Get(port_, "/status");
    ASSERT_EQ(response.status, 200) << response.error;
    EXPECT_EQ(response.Header("Content-Type"), "application/json");
    const std::string iniPath = service_.File("Tillvane_se.ini");
    const std::string timestamp = R"("\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"version", R"("\d+\.\d+\.\d+")"},
        {"instance", R"("Tillvane_SE")"},
        {"startTime", timestamp},
        {"uptimeSeconds", R"(\d+)"},
        {"configurationFile",
         "\"" + std::regex_replace(iniPath, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + "\""},
        {"driverModel", R"("SELLTEXT")"},
        {"receiptState", "\"(ready|afterSell)\""},
        {"portName", "null"},
        {"portInUse", "null"},
        {"portOpen", "null"},
        {"portLostAt", "null"},
        {"journalWritable", "true"},
        {"journalProblem", "null"},
        {"receiptFolder", R"(\{"path":"[^"]+","problem":null,"receiptsWaiting":1,"countCut":false,)"
                          R"("oldestWaitingSince":"[-0-9T:]+Z","waitAlertSeconds":120\})"},
        {"lastPrinterError", "null"},
        {"unfinishedReceipt", "null"},
        {"counts", R"(\{"requests":4,"receipts":1,"failures":1,"refusals":1,"replays":1\})"},
        {"queueLength", "0"},
    };
    std::string pattern = R"(\{)";
    for (const auto& [key, value] : expected) {
        if (pattern.size() > 2) pattern += ',';
        pattern += std::string("\"") + key + "\":" + value;
    }
    pattern += R"(\})";
    EXPECT_TRUE(std::regex_match(response.body, std::regex(pattern))) << response.body;
}

TEST_F(OperationsEndToEnd, MetricsParseAndCountWhatHappened) {
    Start();
    SendOneOfEach();
    const HttpResponse response = Get(port_, "/metrics");
    ASSERT_EQ(response.status, 200) << response.error;
    EXPECT_TRUE(response.Header("Content-Type").starts_with("text/plain; version=0.0.4"));
    const std::map<std::string, double> metrics = ParseMetrics(response.body);
    const std::vector<std::pair<std::string, double>> expected = {
        {R"(tillvane_requests_total{result="ok"})", 1},
        {R"(tillvane_requests_total{result="error"})", 1},
        {R"(tillvane_requests_total{result="refused"})", 1},
        {R"(tillvane_requests_total{result="replay"})", 1},
        {"tillvane_receipts_total", 1},
        {"tillvane_request_duration_seconds_count", 2},
        {R"(tillvane_request_duration_seconds_bucket{le="+Inf"})", 2},
        {"tillvane_queue_length", 0},
        {"tillvane_journal_writable", 1},
        {"tillvane_receipt_folder_writable", 1},
        {"tillvane_receipts_waiting", 1},
    };
    for (const auto& [series, value] : expected) {
        ASSERT_TRUE(metrics.contains(series)) << series << "\n" << response.body;
        EXPECT_EQ(metrics.at(series), value) << series;
    }
}

struct AccessRow {
    const char* name;
    std::vector<std::string> settings;
    std::string clientAddress;
    int status;  // 0: the client cannot connect at all
};

TEST(ClientAccessEndToEnd, ListenAddressAndAllowedClientsFenceTheService) {
    const std::vector<AccessRow> rows = {
        {"everyone by default", {}, "127.0.0.1", 200},
        {"one address", {"allowedClients=127.0.0.1"}, "127.0.0.1", 200},
        {"a range", {"allowedClients=10.0.0.1, 127.0.0.0/8"}, "127.0.0.1", 200},
        {"outside the range", {"allowedClients=10.0.0.0/8"}, "127.0.0.1", 403},
        {"IPv6 loopback", {"listenAddress=::", "allowedClients=::1"}, "::1", 200},
        {"IPv4 on the IPv6 socket", {"listenAddress=::", "allowedClients=::1"}, "127.0.0.1", 403},
        {"IPv4 range on the IPv6 socket",
         {"listenAddress=::", "allowedClients=fe80::/10 127.0.0.1/32"},
         "127.0.0.1",
         200},
        {"IPv6 range", {"listenAddress=::1", "allowedClients=::/0"}, "::1", 200},
        {"IPv4 only", {"listenAddress=127.0.0.1"}, "::1", 0},
        {"IPv4-mapped range on the IPv6 socket",
         {"listenAddress=::", "allowedClients=::ffff:127.0.0.0/104"},
         "127.0.0.1",
         200},
        {"IPv4-mapped address on the IPv6 socket",
         {"listenAddress=::", "allowedClients=::ffff:127.0.0.1/128"},
         "127.0.0.1",
         200},
        {"IPv4-mapped range of others", {"allowedClients=::ffff:10.0.0.0/104"}, "127.0.0.1", 403},
    };
    for (const AccessRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ServiceProcess service(dir);
        std::string failure;
        // Listening shows in the log whoever may connect.
        const int port = service.StartListening(
            [&](int candidate) {
                std::vector<std::string> config = {
                    "driverModel=SELLTEXT", "outputFolder=" + dir.path().string(),
                    "tcpPort=" + std::to_string(candidate), "TVA_GROUPS=A:1"};
                config.insert(config.end(), row.settings.begin(), row.settings.end());
                service.WriteConfig(config);
            },
            failure);
        ASSERT_NE(port, 0) << failure;
        HttpConnection connection(row.clientAddress, port);
        if (row.status == 0) {
            EXPECT_FALSE(connection.connected());
            continue;
        }
        ASSERT_TRUE(connection.connected());
        const HttpResponse receipt =
            connection.PostForm("/REGCMD", "CMD=" + UrlEncode("BS|SI^Apa^1^1^A|AP^0^1|ES"));
        EXPECT_EQ(receipt.status, row.status);
        EXPECT_EQ(receipt.body, row.status == 200 ? "OK|" : "ERR|client not allowed");
        EXPECT_EQ(connection.Get("/status").status, row.status);
        const std::string log = ReadFile(service.File("Tillvane_se.log"));
        EXPECT_EQ(
            log.find("Client not allowed: " + row.clientAddress + " /REGCMD") != std::string::npos,
            row.status == 403)
            << log;
    }
}

const std::string kChromium = "/usr/bin/chromium";
constexpr std::chrono::milliseconds kBrowserTimeout{60000};

// Runs headless Chromium on `url` with `mode` (--dump-dom, --screenshot=...) and a profile of
// its own; returns its standard output.
std::string RunChromium(const TempDir& dir, const std::string& mode, const std::string& url) {
    ChildProcess browser(ChildOptions{
        kChromium,
        {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + dir.File("profile-" + mode.substr(2, 4)), "--window-size=1000,1400",
         mode, url},
        dir.path().string(),
        {},
        {}});
    const std::optional<int> exitCode = browser.WaitForExit(kBrowserTimeout);
    EXPECT_EQ(exitCode, 0) << browser.Stderr();
    return browser.Stdout();
}

TEST_F(OperationsEndToEnd, StatusPageShowsTheFiguresInABrowserAndCanRunNothing) {
    if (!std::filesystem::exists(kChromium)) GTEST_SKIP() << "chromium is not installed";
    Start();
    SendOneOfEach();
    // The page lists the last 20 requests: these push the four above out, newest first.
    constexpr int kFillers = 19;
    for (int i = 0; i < kFillers; ++i) EXPECT_EQ(Send("CMD="), "OK|");
    // A line code nobody knows does nothing: the text is answered "OK|" and shown as sent.
    const std::string hostile = "<script>alert('x')</script><img onerror=\"alert(1)\">";
    EXPECT_EQ(Send("CMD=" + UrlEncode(hostile + "|ZZ^second line")), "OK|");

    const HttpResponse page = Get(port_, "/status.html");
    ASSERT_EQ(page.status, 200) << page.error;
    EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
    // Self-contained and read-only: nothing to load, nothing to submit, no way to a command.
    for (const char* forbidden : {"<script", "<form", "src=", "href=", "REGCMD", "<button"}) {
        EXPECT_EQ(page.body.find(forbidden), std::string::npos) << forbidden;
    }
    EXPECT_NE(page.body.find("http-equiv=\"refresh\""), std::string::npos);

    const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/status.html";
    const std::string dom = RunChromium(dir_, "--dump-dom", url);
    for (const char* shown :
         {"<h1>Tillvane status</h1>", "<p class=\"banner healthy\">Healthy: ready to print</p>",
          "<th>Driver model</th><td>SELLTEXT</td>", "<th>Receipts</th><td>1</td>",
          "<th>Failures</th><td>1</td>", "<th>Requests</th><td>24</td>",
          "<th>Replays</th><td>1</td>", "<th>Last printer error</th><td>none</td>",
          // The hostile text is shown as text, its first line only, with its answer.
          "<td>127.0.0.1</td><td>&lt;script&gt;alert('x')&lt;/script&gt;&lt;img "
          "onerror=\"alert(1)\"&gt;</td><td>200</td><td>OK|</td>"}) {
        EXPECT_NE(dom.find(shown), std::string::npos) << shown << "\n" << dom;
    }
    // Chromium's DOM holds no element the hostile text could have made.
    for (const char* absent : {"<script", "<img", "<form", "second line", "invalid Base64"}) {
        EXPECT_EQ(dom.find(absent), std::string::npos) << absent << "\n" << dom;
    }
    const std::regex requestRow(
        R"(<tr><td>\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ</td><td>127\.0\.0\.1</td>)");
    EXPECT_EQ(std::distance(std::sregex_iterator(dom.begin(), dom.end(), requestRow),
                            std::sregex_iterator()),
              20);

    // Kept beside the build for a person to look at.
    const std::filesystem::path artifacts =
        std::filesystem::path(TILLVANE_BINARY_DIR) / "artifacts";
    std::filesystem::create_directories(artifacts);
    const std::filesystem::path screenshot = artifacts / "status_page.png";
    std::filesystem::remove(screenshot);
    RunChromium(dir_, "--screenshot=" + screenshot.string(), url);
    EXPECT_TRUE(std::filesystem::exists(screenshot));
    std::cout << "Status page screenshot: " << screenshot.string() << std::endl;
    EXPECT_GT(std::filesystem::file_size(screenshot), 1000u);
}

// The status page's banner through the real program, for drivers that can print and those
// that cannot.
TEST(StatusBannerEndToEnd, SaysWhetherThePrinterCanPrint) {
    const struct {
        const char* name;
        std::vector<std::string> settings;
        std::string banner;
    } rows[] = {
        {"text driver",
         {"driverModel=SELLTEXT", "TVA_GROUPS=A:1"},
         "<p class=\"banner healthy\">Healthy: ready to print</p>"},
        {"no driver",
         {},
         "<p class=\"banner unhealthy\">Unhealthy: no printer driver configured</p>"},
        {"serial port missing",
         {"driverModel=SERIALUFP", "Port=/nonexistent/tillvane-tty", "TVA_GROUPS=A:1"},
         "<p class=\"banner unhealthy\">Unhealthy: port closed</p>"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ServiceProcess service(dir);
        std::string failure;
        const int port = service.StartListening(
            [&](int candidate) {
                std::vector<std::string> config = row.settings;
                config.push_back("outputFolder=" + dir.path().string());
                config.push_back("tcpPort=" + std::to_string(candidate));
                service.WriteConfig(config);
            },
            failure);
        ASSERT_NE(port, 0) << failure;
        // The driver reports its state once it has loaded its settings.
        EXPECT_TRUE(WaitUntil(
            [&] { return Get(port, "/status.html").body.find(row.banner) != std::string::npos; },
            kStartTimeout))
            << Get(port, "/status.html").body;
    }
}

// A fence that does not say what its owner meant stays closed.
TEST(ClientAccessEndToEnd, AnUnreadableAllowedClientsListKeepsTheServerClosed) {
    const struct {
        std::string list;
        std::string named;  // in the log entry
    } rows[] = {
        {"127.0.0.1 10.0.0.300/8", "10.0.0.300/8"},
        {",", ","},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.list);
        TempDir dir;
        ServiceProcess service(dir);
        const int port = FreeTcpPort();
        service.WriteConfig({"driverModel=SELLTEXT", "tcpPort=" + std::to_string(port),
                             "allowedClients=" + row.list});
        service.Start();
        EXPECT_TRUE(WaitUntil(
            [&] {
                return ReadFile(service.File("Tillvane_se.log"))
                           .find("allowedClients holds neither an address nor a range [" +
                                 row.named + "]") != std::string::npos;
            },
            kStartTimeout));
        // Whatever may answer on the port (another test's service, say), this one never
        // listened.
        EXPECT_EQ(ReadFile(service.File("Tillvane_se.log")).find(kListeningEntry),
                  std::string::npos);
    }
}

// What the status, the metrics and the page say is what the shop would find: a journal or a
// folder that cannot be written, receipts nobody takes, a driver without a port, and requests
// named as a person knows them.
TEST(StatusTruthEndToEnd, StatusMetricsAndPageSayWhatIsSo) {
    const std::string receipt = "CMD=" + UrlEncode(kReceipt);
    // As if the printer's software had left them for an hour.
    const auto ageReceipts = [](const std::filesystem::path& receipts) {
        for (const auto& entry : std::filesystem::directory_iterator(receipts)) {
            std::filesystem::last_write_time(
                entry.path(),
                std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
        }
    };
    const struct {
        const char* name;
        std::vector<std::string> settings;
        bool journalIsAFolder;
        std::function<void(int port, const std::filesystem::path& receipts)> act;
        // Path and text it must hold; a path led by "!" must not hold it.
        std::vector<std::pair<std::string, std::string>> expected;
    } rows[] = {
        {"journal not writable",
         {},
         true,
         [&](int port, const auto&) {
             EXPECT_EQ(PostForm(port, "/REGCMD", receipt + "&REQUESTID=j1").status, 503);
         },
         {{"/status.html", "banner unhealthy\">Unhealthy: request journal not writable: "},
          {"/status", R"("journalWritable":false,"journalProblem":")"},
          {"/metrics", "tillvane_journal_writable 0"}}},
        {"receipt folder missing",
         {"outputFolder=/nonexistent/tillvane-dir"},
         false,
         [&](int port, const auto&) {
             EXPECT_TRUE(PostForm(port, "/REGCMD", receipt).body.starts_with("ERR|"));
         },
         {{"/status.html",
           "banner unhealthy\">Unhealthy: receipts cannot be written to "
           "/nonexistent/tillvane-dir/: "},
          {"/status", R"("reason":"Error creating file /nonexistent/tillvane-dir/)"},
          {"/metrics", "tillvane_receipt_folder_writable 0"}}},
        {"text driver: no port, requests named, old receipts with the warning off",
         {"receiptWaitAlertSeconds=0"},
         false,
         [&](int port, const std::filesystem::path& receipts) {
             EXPECT_EQ(PostForm(port, "/REGCMD", receipt + "&REQUESTID=r1").body, "OK|");
             EXPECT_EQ(PostForm(port, "/REGCMD", receipt + "&REQUESTID=r1").body, "OK|");
             EXPECT_EQ(PostForm(port, "/REGCMD", "CMD=XR").body, "OK|");
             ageReceipts(receipts);
         },
         {{"/status.html", "Healthy: ready to print"},
          {"/status.html", "<td>Receipt, 1 item, 5.00</td>"},
          {"/status.html", "<td>replay, not printed again: OK|</td>"},
          {"/status.html", "<td>X report</td>"},
          {"/status", R"("portName":null,"portInUse":null,"portOpen":null,"portLostAt":null)"},
          {"/metrics", "tillvane_receipts_waiting 2"},
          {"!/metrics", "tillvane_port_"}}},
        {"receipts waiting too long",
         {"receiptWaitAlertSeconds=60"},
         false,
         [&](int port, const std::filesystem::path& receipts) {
             EXPECT_EQ(PostForm(port, "/REGCMD", receipt).body, "OK|");
             ageReceipts(receipts);
         },
         {{"/status.html", "banner degraded\">Degraded: 1 receipts waiting since "},
          {"/status.html", ": is the printer software running?</p>"},
          {"/metrics", "tillvane_receipts_waiting_oldest_seconds 36"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ServiceProcess service(dir);
        const std::filesystem::path receipts = dir.path() / "receipts";
        std::filesystem::create_directories(receipts);
        if (row.journalIsAFolder)
            std::filesystem::create_directories(service.File("Tillvane_se.jsonl"));
        std::string failure;
        const int port = service.StartListening(
            [&](int candidate) {
                // The first of two lines with one key counts: the row's settings win.
                std::vector<std::string> config = row.settings;
                config.insert(config.end(), {"driverModel=SELLTEXT", "TVA_GROUPS=A:1",
                                             "outputFolder=" + receipts.string(),
                                             "tcpPort=" + std::to_string(candidate)});
                service.WriteConfig(config);
            },
            failure);
        ASSERT_NE(port, 0) << failure;
        // The driver reports its state once it has loaded its settings.
        ASSERT_TRUE(WaitUntil(
            [&] { return Get(port, "/status").body.find("\"starting\"") == std::string::npos; },
            kStartTimeout));
        row.act(port, receipts);
        for (const auto& [path, text] : row.expected) {
            const bool absent = path.starts_with('!');
            const std::string body = Get(port, absent ? path.substr(1) : path).body;
            EXPECT_EQ(body.find(text) == std::string::npos, absent) << text << "\n" << body;
        }
    }
}

}  // namespace
}  // namespace tillvane::testing
