// Hostile, careless and cross-site clients against the real program, with the text-file driver
// and with the serial printer simulator. Every attack is followed by an ordinary receipt from
// the till, which must succeed at once: within a second, plus what the printer itself takes.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine_name.h"
#include "requests/driver_queue.h"
#include "requests/journal/request_ids.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/sanitizers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace tillvane::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sanitizer builds run the program several times slower; the bounds widen with them.
constexpr auto kFollowUpBound = 1000ms * kSanitizerSlowdown;
constexpr auto kAnswerBound = 5000ms * kSanitizerSlowdown;
constexpr auto kSettleTimeout = 60s;
// What the service may keep resident under any flood (more where a sanitizer keeps shadow
// memory and freed blocks).
constexpr long kMaxResidentKiB = 64 * 1024 * kSanitizerMemoryFactor;
const std::string kSimulatorProgram =
    std::string(TILLVANE_BINARY_DIR) + "/tools/printer_simulator/printer_simulator";

// A raw connection from a chosen loopback address, for floods and half-sent requests.
class RawConnection {
  public:
    RawConnection(const std::string& sourceAddress, int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        ::inet_pton(AF_INET, sourceAddress.c_str(), &source.sin_addr);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &target.sin_addr);
        // Other programs listen on every address: without this option a port held here on
        // 127.0.0.x could not be listened on by them.
        const int reuse = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        connected_ = fd_ >= 0 &&
                     ::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
                     ::connect(fd_, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0;
    }
    ~RawConnection() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }

    // False once the server has closed the connection.
    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    // Everything the server sends until it closes the connection or `timeout` passes.
    std::string ReadUntilClosed(std::chrono::milliseconds timeout) {
        std::string received;
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
            char chunk[4096];
            const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0) {
                closed_ = true;
                break;
            }
            received.append(chunk, static_cast<std::size_t>(got));
        }
        return received;
    }

    bool WaitForClose(std::chrono::milliseconds timeout) {
        ReadUntilClosed(timeout);
        return closed_;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
};

using Held = std::vector<std::unique_ptr<RawConnection>>;

// Opens `count` connections from `sourceAddress`, each sending `prefix` (perhaps nothing).
void Open(Held& held, const std::string& sourceAddress, int port, int count,
          const std::string& prefix = {}) {
    for (int i = 0; i < count; ++i) {
        held.push_back(std::make_unique<RawConnection>(sourceAddress, port));
        EXPECT_TRUE(held.back()->connected()) << sourceAddress;
        if (!prefix.empty()) held.back()->Send(prefix);
    }
}

std::string LoopbackAddress(int host) {
    return "127.0.0." + std::to_string(host);
}

// The resident memory of process `pid` in KiB, from /proc.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// The name this machine goes by, as a till on the shop's network would name it.
std::string MachineName() {
    const std::vector<std::string> names = platform::MachineNames();
    return names.empty() ? std::string("localhost") : names.front();
}

std::string PrintedTextLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "|PT^Linia " + std::to_string(i);
    return text;
}

// --- The text-file driver ----------------------------------------------------------------

class TextDriverAttacks : public TextDriverEndToEnd {
  protected:
    void SetUp() override {
        StartTextDriver({"TVA_GROUPS=A:1|B:2", "DebugMode=1",
                         "allowedOrigins=http://POS.example:8080/", "allowedHosts=pos.example"});
    }

    std::size_t ReceiptFiles() const {
        return static_cast<std::size_t>(std::distance(
            std::filesystem::directory_iterator(receipts_), std::filesystem::directory_iterator()));
    }

    // The till's ordinary receipt, on a connection of its own: answered "OK|" in time and
    // written as it was sent, alone.
    void ExpectOrdinaryReceipt(const std::string& after) {
        ClearReceipts();
        HttpConnection till(port_, kFollowUpBound);
        ASSERT_TRUE(till.connected()) << after;
        const HttpResponse response = till.PostForm("/REGCMD", "CMD=" + UrlEncode(kReceipt));
        EXPECT_EQ(response.body, "OK|") << after << ": " << response.error;
        EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile}) << after;
        EXPECT_TRUE(std::filesystem::is_empty(receipts_)) << after << ": a receipt left open";
    }
};

TEST_F(TextDriverAttacks, EachAttackLeavesTheTillItsNextReceipt) {
    const std::string partialPost =
        "POST /REGCMD HTTP/1.1\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nContent-Length: 300000"
        "\r\n\r\nCMD=" +
        std::string(200000, 'x');
    long floodResidentKiB = 0;
    struct Attack {
        const char* name;
        std::function<void(Held&)> run;  // asserts its own answers; keeps what it holds open
    };
    const Attack attacks[] = {
        {"idle connections from other addresses beyond the global cap",
         [&](Held& held) {
             for (int host = 2; host < 19; ++host) Open(held, LoopbackAddress(host), port_, 16);
             // The oldest had to give way to the newest.
             EXPECT_TRUE(held.front()->WaitForClose(kAnswerBound));
         }},
        {"idle connections from the till's own address",
         [&](Held& held) {
             Open(held, "127.0.0.1", port_, 64);
             EXPECT_TRUE(held.front()->WaitForClose(kAnswerBound));
         }},
        {"unfinished POSTs near the body limit from many addresses",
         [&](Held& held) {
             for (int i = 0; i < 250; ++i) {
                 Open(held, LoopbackAddress(2 + i % 20), port_, 1, partialPost);
             }
             floodResidentKiB = ResidentKiB(service_.child().pid());
             EXPECT_LT(floodResidentKiB, kMaxResidentKiB);
         }},
        {"a body larger than any command text",
         [&](Held&) {
             const HttpResponse response =
                 SendRaw(port_, "POST /REGCMD HTTP/1.1\r\nContent-Length: 1048576\r\n\r\nCMD=");
             EXPECT_EQ(response.status, 413) << response.error;
         }},
        {"a header value over 65,533 bytes",
         [&](Held&) {
             const HttpResponse response =
                 SendRaw(port_, "GET / HTTP/1.1\r\nX-Big: " + std::string(70000, 'h') + "\r\n\r\n");
             EXPECT_EQ(response.status, 431) << response.error;
         }},
        {"a request line over 65,535 bytes",
         [&](Held&) {
             const HttpResponse response =
                 SendRaw(port_, "GET /?X=" + std::string(70000, 'q') + " HTTP/1.1\r\n\r\n");
             EXPECT_EQ(response.status, 200) << response.error;
         }},
        {"a command text of 30,000 lines",
         [&](Held&) {
             ClearReceipts();
             std::string text = "BS";
             for (int i = 0; i < 30000; ++i) text += "|PT";
             const HttpResponse response =
                 PostForm(port_, "/REGCMD", "CMD=" + UrlEncode(text + "|ES"));
             EXPECT_EQ(response.body, "ERR|command text has more than 1000 lines");
             EXPECT_EQ(ReceiptFiles(), 0u);
         }},
        {"a request sent a byte at a time",
         [&](Held& held) {
             Open(held, "127.0.0.1", port_, 1, "G");
             const auto start = Clock::now();
             const std::string rest = "ET / HTTP/1.1\r\nX-Slow: " + std::string(200, 's');
             bool closed = false;
             for (std::size_t i = 0; i < rest.size() && !closed; ++i) {
                 closed = !held.back()->Send(rest.substr(i, 1)) || held.back()->WaitForClose(100ms);
             }
             EXPECT_TRUE(closed || held.back()->WaitForClose(kAnswerBound));
             std::cout << "[ figure ] a trickled request was closed after "
                       << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                                start)
                              .count()
                       << " ms\n";
         }},
    };
    const long startResidentKiB = ResidentKiB(service_.child().pid());
    for (const Attack& attack : attacks) {
        SCOPED_TRACE(attack.name);
        Held held;
        attack.run(held);
        ExpectOrdinaryReceipt(attack.name);
    }
    std::cout << "[ figure ] resident memory: " << startResidentKiB << " KiB at start, "
              << floodResidentKiB << " KiB under 250 unfinished 300 KB POSTs, "
              << ResidentKiB(service_.child().pid()) << " KiB at the end\n";
}

TEST_F(TextDriverAttacks, BrowsersFromOtherSitesCannotPrint) {
    struct Case {
        const char* name;
        std::string headers;
        int status;
        std::string body;
        std::size_t files;
        std::string target = "/REGCMD?CMD=ZR";
    };
    const Case cases[] = {
        {"a page of another site", "Origin: http://evil.example\r\n", 403,
         "ERR|cross-site request refused", 0},
        {"an image of another site", "Sec-Fetch-Site: cross-site\r\n", 403,
         "ERR|cross-site request refused", 0},
        {"a sibling site", "Sec-Fetch-Site: same-site\r\n", 403, "ERR|cross-site request refused",
         0},
        {"an opaque origin", "Origin: null\r\nSec-Fetch-Site: cross-site\r\n", 403,
         "ERR|cross-site request refused", 0},
        {"the user typed the address", "Sec-Fetch-Site: none\r\n", 200, "OK|", 1},
        {"the same origin", "Sec-Fetch-Site: same-origin\r\n", 200, "OK|", 1},
        // DNS rebinding: a stranger's name resolved to this machine makes its page same-origin.
        {"a page on a rebound name", "Host: evil.example:8088\r\nSec-Fetch-Site: same-origin\r\n",
         421, "ERR|unknown Host", 0},
        {"a rebound name that ends like an allowed one", "Host: localhost.evil.example\r\n", 421,
         "ERR|unknown Host", 0},
        {"the service's IP address", "Host: 127.0.0.1:8088\r\nSec-Fetch-Site: same-origin\r\n", 200,
         "OK|", 1},
        {"its IPv6 address", "Host: [::1]:8088\r\n", 200, "OK|", 1},
        {"localhost", "Host: LocalHost:8088\r\nSec-Fetch-Site: same-origin\r\n", 200, "OK|", 1},
        {"the machine's own name", "Host: " + MachineName() + ":8088\r\n", 200, "OK|", 1},
        {"a name in allowedHosts", "Host: POS.example\r\nSec-Fetch-Site: same-origin\r\n", 200,
         "OK|", 1},
        {"an allowed point-of-sale page",
         "Origin: http://pos.example:8080\r\nSec-Fetch-Site: cross-site\r\n", 200, "OK|", 1},
        {"a program without browser headers", "", 200, "OK|", 1},
        {"an absolute target on a stranger's name", "Host: 127.0.0.1:8088\r\n", 421,
         "ERR|unknown Host", 0, "http://evil.example/REGCMD?CMD=ZR"},
        {"an absolute target on the service's address", "Host: evil.example\r\n", 200, "OK|", 1,
         "http://127.0.0.1:8088/REGCMD?CMD=ZR"},
        {"two Host fields", "Host: 127.0.0.1\r\nHost: evil.example\r\n", 400, "ERR|duplicate Host",
         0},
    };
    for (const Case& c : cases) {
        ClearReceipts();
        const HttpResponse response =
            SendRaw(port_, "GET " + c.target + " HTTP/1.1\r\n" + c.headers + "\r\n");
        EXPECT_EQ(response.status, c.status) << c.name << " " << response.error;
        EXPECT_EQ(response.body, c.body) << c.name;
        EXPECT_EQ(ReceiptFiles(), c.files) << c.name;
        ExpectOrdinaryReceipt(c.name);
    }
    const HttpResponse allowed =
        SendRaw(port_,
                "POST /REGCMD HTTP/1.1\r\nOrigin: http://pos.example:8080\r\nContent-Type: "
                "application/x-www-form-urlencoded\r\nContent-Length: 6\r\n\r\nCMD=XR");
    EXPECT_EQ(allowed.Header("Access-Control-Allow-Origin"), "http://pos.example:8080");
    const HttpResponse refusedPost =
        SendRaw(port_,
                "POST /REGCMD HTTP/1.1\r\nOrigin: http://evil.example\r\nContent-Type: "
                "application/x-www-form-urlencoded\r\nContent-Length: 6\r\n\r\nCMD=ZR");
    EXPECT_EQ(refusedPost.status, 403);
    EXPECT_EQ(refusedPost.Header("Access-Control-Allow-Origin"), "");
    // Nothing at all for a rebound name: not even the status.
    const HttpResponse status =
        SendRaw(port_, "GET /status HTTP/1.1\r\nHost: evil.example:8088\r\n\r\n");
    EXPECT_EQ(status.status, 421);
    EXPECT_EQ(status.body, "ERR|unknown Host");
    EXPECT_NE(ReadFile(service_.File("Tillvane_se.log"))
                  .find("Unknown Host refused: [evil.example:8088] from 127.0.0.1 /status"),
              std::string::npos);
}

TEST_F(TextDriverAttacks, TheRequestLogRunsNoMarkup) {
    const std::string markup = "XR|<img src=x onerror=\"alert('&')\">";
    PostForm(port_, "/REGCMD", "CMD=" + UrlEncode(markup));
    const std::string log = ReadFile(service_.File("Tillvane_se.html"));
    EXPECT_NE(log.find("XR|&lt;img src=x onerror=&quot;alert(&#39;&amp;&#39;)&quot;&gt;"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find('<'), std::string::npos) << log;
    ExpectOrdinaryReceipt("markup in a command text");
}

// --- The serial printer ----------------------------------------------------------------------

class SerialPrinterAttacks : public ::testing::Test {
  protected:
    void Start(const std::vector<std::string>& faults = {}) {
        ChildOptions options{
            kSimulatorProgram, {"--journal", dir_.File("journal.txt")}, {}, {}, {}};
        for (const std::string& fault : faults) {
            options.arguments.push_back("--fault");
            options.arguments.push_back(fault);
        }
        simulator_ = std::make_unique<ChildProcess>(options);
        ASSERT_TRUE(simulator_->WaitForStdout("\n", kStartTimeout)) << simulator_->Stderr();
        const std::string out = simulator_->Stdout();
        devicePath_ = out.substr(0, out.find('\n'));
        StartService();
        // The first receipt also makes the printer's handshake; it sets the pace to expect.
        const auto start = Clock::now();
        EXPECT_EQ(Post(port_, kReceipt, kAnswerBound * 4).body, "OK|");
        receiptTime_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    void StartService() {
        std::string failure;
        port_ = service_.StartListening(
            [this](int port) {
                service_.WriteConfig({"driverModel=SERIALUFP", "Port=" + devicePath_,
                                      "TVA_GROUPS=A:1", "tcpPort=" + std::to_string(port)});
            },
            failure);
        ASSERT_NE(port_, 0) << failure;
    }

    void TearDown() override {
        if (service_.child().exited()) return StopSimulator();
        service_.child().Signal(SIGTERM);
        EXPECT_EQ(service_.child().WaitForExit(kStopBound), 0);
        StopSimulator();
    }

    void StopSimulator() {
        if (!simulator_) return;
        simulator_->Signal(SIGTERM);
        EXPECT_EQ(simulator_->WaitForExit(kStopBound), 0);
    }

    static HttpResponse Post(int port, const std::string& commandText,
                             std::chrono::milliseconds timeout) {
        HttpConnection connection(port, timeout);
        return connection.PostForm("/REGCMD", "CMD=" + UrlEncode(commandText));
    }

    void ExpectOrdinaryReceipt(const std::string& after) {
        const std::size_t closedBefore = Printed();
        const HttpResponse response = Post(port_, kReceipt, receiptTime_ + kFollowUpBound);
        EXPECT_EQ(response.body, "OK|") << after << ": " << response.error;
        EXPECT_EQ(Printed(), closedBefore + 1) << after;
    }

    std::string Journal() const { return ReadFile(dir_.File("journal.txt")); }
    std::size_t Printed() const { return Count(Journal(), "CLOSE RECEIPT"); }
    std::size_t Dropped() const {
        return Count(ReadFile(service_.File("Tillvane_se.log")), "Request dropped unprinted");
    }

    TempDir dir_;
    ServiceProcess service_{dir_};
    int port_ = 0;
    std::string devicePath_;
    std::unique_ptr<ChildProcess> simulator_;
    std::chrono::milliseconds receiptTime_{0};
};

TEST_F(SerialPrinterAttacks, TheServiceAnswersWhileThePrinterIsSilent) {
    Start({"0x61:silent"});  // every printed text line costs three silent seconds
    std::atomic<bool> slowAnswered{false};
    std::thread slow([&] {
        Post(port_, "BS|SI^Apa^2.50^2^A|PT^Tacut|AP^0^5.00|ES", kAnswerBound * 4);
        slowAnswered = true;
    });
    ASSERT_TRUE(
        WaitUntil([&] { return Journal().find("FAULT 0x61") != std::string::npos; }, kAnswerBound));
    HttpConnection check(port_, kFollowUpBound);
    EXPECT_EQ(check.Get("/").body, "Tillvane service is active on_get");
    EXPECT_EQ(check.PostForm("/REGCMD", "CMD=x", "text/plain").status, 415);
    EXPECT_FALSE(slowAnswered);  // the health check did not wait for the printer
    slow.join();
    ExpectOrdinaryReceipt("a receipt on a silent printer");
}

TEST_F(SerialPrinterAttacks, RequestsWhoseClientLeftAreNotPrinted) {
    Start();
    // Each takes several seconds at the printer; each client gives up after two.
    const std::string slowReceipt = "BS|SI^Apa^2.50^2^A" + PrintedTextLines(20) + "|AP^0^5.00|ES";
    constexpr int kClients = 16;
    const std::size_t printedBefore = Printed();
    std::atomic<int> answeredOk{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] {
            if (Post(port_, slowReceipt, 2000ms).body == "OK|") ++answeredOk;
        });
    }
    for (std::thread& client : clients) client.join();
    ASSERT_TRUE(
        WaitUntil([&] { return Printed() - printedBefore + Dropped() == std::size_t{kClients}; },
                  kSettleTimeout))
        << "printed " << Printed() - printedBefore << ", dropped " << Dropped();
    // Only a request that had begun when its client left was printed without an answer.
    EXPECT_LE(Printed() - printedBefore, static_cast<std::size_t>(answeredOk) + 1);
    std::cout << "[ figure ] 16 clients giving up after 2 s: " << answeredOk << " OK, "
              << Printed() - printedBefore << " printed, " << Dropped() << " dropped unprinted\n";
    ExpectOrdinaryReceipt("clients that gave up");
}

// The same with a REQUESTID: its start is recorded, yet nobody waits for it when its turn
// comes, so it is dropped, and the till's later retry of that id prints it once.
TEST_F(SerialPrinterAttacks, ARequestWithAnIdWhoseClientLeftIsNotPrinted) {
    Start();
    const std::string slowReceipt = "BS|SI^Apa^2.50^2^A" + PrintedTextLines(20) + "|AP^0^5.00|ES";
    std::atomic<bool> slowAnswered{false};
    std::thread slow([&] {
        EXPECT_EQ(Post(port_, slowReceipt, kAnswerBound * 4).body, "OK|");
        slowAnswered = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return Count(Journal(), "TEXT Linia") >= 1; }, kAnswerBound));
    const std::string body =
        "CMD=" + UrlEncode("BS|SI^Plecat^1.00^1^A|AP^0^1.00|ES") + "&REQUESTID=left:1";
    {
        HttpConnection leaving(port_, kAnswerBound);
        ASSERT_TRUE(
            leaving.Send("POST /REGCMD HTTP/1.1\r\nContent-Type: "
                         "application/x-www-form-urlencoded\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\n\r\n" + body));
        // Admitted: its start is in the journal of requests.
        EXPECT_TRUE(WaitUntil(
            [&] {
                return ReadFile(service_.File("Tillvane_se.jsonl"))
                           .find(R"("event":"start","client":"127.0.0.1","id":"left:1")") !=
                       std::string::npos;
            },
            kAnswerBound));
    }  // the client gives up
    EXPECT_FALSE(slowAnswered) << "the first receipt ended before the client left";
    slow.join();
    ASSERT_TRUE(
        WaitUntil([&] { return Dropped() == 1 || Journal().find("Plecat") != std::string::npos; },
                  kSettleTimeout));
    EXPECT_EQ(Dropped(), 1u);
    EXPECT_EQ(Journal().find("Plecat"), std::string::npos);
    EXPECT_NE(ReadFile(service_.File("Tillvane_se.jsonl"))
                  .find(R"("note":"dropped unprinted: its client went away before its turn")"),
              std::string::npos);
    // Never printed, the id is free: the retry prints it, and only once.
    const std::size_t printedBefore = Printed();
    for (int retry = 0; retry < 2; ++retry) {
        HttpConnection till(port_, kAnswerBound);
        EXPECT_EQ(till.PostForm("/REGCMD", body).body, "OK|");
    }
    EXPECT_EQ(Printed(), printedBefore + 1);
    EXPECT_EQ(Count(Journal(), "Plecat"), 2u);  // its item and its sale, once each
    ExpectOrdinaryReceipt("a client with an id that left");
}

// Slow requests sent at once as raw POSTs (Connection: close), each on a connection of its
// own from `addresses` loopback addresses in turn, beginning with the till's own; `fields`
// are the form fields before the command text.
Held PostAtOnce(int port, int count, int addresses, const std::string& fields,
                const std::string& commandText) {
    const std::string body = fields + "CMD=" + UrlEncode(commandText);
    Held connections;
    for (int i = 0; i < count; ++i) {
        Open(connections, LoopbackAddress(1 + i % addresses), port, 1,
             "POST /REGCMD HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
             "Connection: close\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    return connections;
}

// What each connection was answered, read on threads of their own within `timeout`; a
// connection is closed (its client gives up) once read.
class Answers {
  public:
    Answers(Held& connections, std::chrono::milliseconds timeout) {
        for (auto& connection : connections) {
            readers_.emplace_back([this, &connection, timeout] {
                const std::string response = connection->ReadUntilClosed(timeout);
                connection.reset();
                std::lock_guard lock(mutex_);
                answers_.push_back(response);
            });
        }
    }
    ~Answers() { Join(); }
    Answers(const Answers&) = delete;
    Answers& operator=(const Answers&) = delete;

    void Join() {
        for (std::thread& reader : readers_) {
            if (reader.joinable()) reader.join();
        }
    }
    // Answers so far with this status line and body.
    int Count(const std::string& statusLine, const std::string& body) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(
            std::count_if(answers_.begin(), answers_.end(), [&](const std::string& response) {
                return response.starts_with(statusLine) && response.ends_with("\r\n\r\n" + body);
            }));
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> answers_;
    std::vector<std::thread> readers_;
};

constexpr const char* kOk200 = "HTTP/1.1 200";
constexpr const char* kBusy503 = "HTTP/1.1 503";
constexpr const char* kPrinterBusy = "ERR|printer busy";

TEST_F(SerialPrinterAttacks, AFullQueueAnswersPrinterBusyWithoutPrinting) {
    Start();
    const std::string slowReceipt = "BS|SI^Apa^2.50^2^A" + PrintedTextLines(20) + "|AP^0^5.00|ES";
    constexpr int kClients = 20;  // one at the printer, 16 waiting, the rest turned away
    const std::size_t printedBefore = Printed();
    // All from the till's own address: it may fill the queue and still be answered.
    Held connections = PostAtOnce(port_, kClients, 1, "", slowReceipt);
    Answers answers(connections, 2000ms);  // then each client gives up
    ASSERT_TRUE(
        WaitUntil([&] { return answers.Count(kBusy503, kPrinterBusy) >= 3; }, kAnswerBound));
    // The full queue leaves the till its status and its health check.
    HttpConnection till(port_, kFollowUpBound);
    const HttpResponse status = till.Get("/status");
    EXPECT_EQ(status.status, 200) << status.error;
    // Every place of the queue is taken, or one has just been freed by the end of the
    // receipt at the printer.
    const bool queueFull =
        status.body.find("\"queueLength\":" + std::to_string(kMaxWaitingDriverRequests)) !=
            std::string::npos ||
        status.body.find("\"queueLength\":" + std::to_string(kMaxWaitingDriverRequests - 1)) !=
            std::string::npos;
    EXPECT_TRUE(queueFull) << status.body;
    EXPECT_EQ(till.Get("/").body, "Tillvane service is active on_get");
    answers.Join();
    const int busy = answers.Count(kBusy503, kPrinterBusy);
    EXPECT_GE(busy, 3);
    EXPECT_LE(busy, 4);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Printed() - printedBefore + Dropped() + static_cast<std::size_t>(busy) ==
                   std::size_t{kClients};
        },
        kSettleTimeout));
    EXPECT_LE(Printed() - printedBefore, 1u);
    ExpectOrdinaryReceipt("a full queue");
}

// Retries of one id wait for its run, a few at a time; a flood of them is turned away at once
// instead of holding connections (all the server has, were it 256) until the run ends.
TEST_F(SerialPrinterAttacks, OneRequestIdFromManyClientsHoldsFewConnections) {
    Start();
    const std::string slowReceipt = "BS|SI^Apa^2.50^2^A" + PrintedTextLines(30) + "|AP^0^5.00|ES";
    constexpr int kClients = 200;
    const std::size_t printedBefore = Printed();
    Held connections = PostAtOnce(port_, kClients, 10, "REQUESTID=flood-1&", slowReceipt);
    Answers answers(connections, kAnswerBound * 4);
    // The run and the retries that wait for it.
    constexpr int kWaiting = 1 + static_cast<int>(kMaxWaitersPerRequestId);
    ASSERT_TRUE(
        WaitUntil([&] { return answers.Count(kBusy503, kPrinterBusy) >= kClients - kWaiting; },
                  kAnswerBound));
    // All arrived while the one run was still at the printer.
    ASSERT_EQ(Printed(), printedBefore);
    HttpConnection till(port_, kFollowUpBound);
    const HttpResponse status = till.Get("/status");
    EXPECT_EQ(status.status, 200) << status.error;
    // The waiting retries hold places of the queue.
    EXPECT_NE(status.body.find("\"queueLength\":" + std::to_string(kMaxWaitersPerRequestId)),
              std::string::npos)
        << status.body;
    answers.Join();
    EXPECT_EQ(answers.Count(kOk200, "OK|"), kWaiting);
    EXPECT_EQ(answers.Count(kBusy503, kPrinterBusy), kClients - kWaiting);
    EXPECT_EQ(Printed(), printedBefore + 1);
    ExpectOrdinaryReceipt("one request id from many clients");
}

TEST_F(SerialPrinterAttacks, AStopAnswersTheReceiptItCutsShort) {
    Start();
    std::atomic<bool> answered{false};
    HttpResponse cutShort;
    std::thread client([&] {
        cutShort = Post(port_, "BS|SI^Apa^2.50^2^A" + PrintedTextLines(200) + "|AP^0^5.00|ES",
                        kAnswerBound * 4);
        answered = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return Count(Journal(), "TEXT Linia") >= 3; }, kAnswerBound * 2));
    const auto asked = Clock::now();
    ASSERT_TRUE(service_.child().Signal(SIGTERM));
    const auto code = service_.child().WaitForExit(kStopBound);
    const auto stopTime =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
    client.join();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(cutShort.status, 503) << cutShort.error;
    EXPECT_EQ(cutShort.body,
              "ERR|service stopping: the request was cut short and its receipt abandoned");
    EXPECT_NE(ReadFile(service_.File("_Tillvane_se.log")).find("Receipt abandoned"),
              std::string::npos);
    EXPECT_EQ(Count(Journal(), "CLOSE RECEIPT"), 1u);  // only the first, whole receipt
    std::cout << "[ figure ] stop during a 200-line serial receipt took " << stopTime.count()
              << " ms\n";
}

}  // namespace
}  // namespace tillvane::testing
