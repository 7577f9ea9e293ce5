// The real program end to end: started as systemd starts it, receipts and reports over
// HTTP on a real socket, the files and logs it writes, and the stop by a signal.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/server_start.h"
#include "registers/text/receipt_path.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/base64_encode.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace tillvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kHelpText =
    "Parameters:\n"
    " -install  to install the service.\n"
    " -remove   to remove the service.\n"
    " -instance <name> -install [auto]  to install another printer's service, Tillvane_SE_<name>.\n"
    " -instance <name> -remove          to remove it.\n"
    " -instance <name>                  to run it (files: Tillvane_se_<name>.ini, .log, ...).\n";

// Sends SIGTERM (or `signal`) and expects an orderly end: exit code 0 within the bound.
void ExpectOrderlyStop(ChildProcess& child, int signal = SIGTERM) {
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(child.Signal(signal));
    const auto code = child.WaitForExit(kStopBound);
    ASSERT_TRUE(code.has_value()) << "still running " << kStopBound.count()
                                  << " ms after the signal";
    EXPECT_EQ(*code, 0) << child.Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, kStopBound);
}

class ServiceEndToEnd : public TextDriverEndToEnd {
  protected:
    void StartWithTextDriver(bool debugMode) {
        StartTextDriver(
            {"TVA_GROUPS=A:1|B:2|C:3|D:4", std::string("DebugMode=") + (debugMode ? "1" : "0")});
    }

    std::string Post(const std::string& name, const std::string& value) {
        const HttpResponse response = PostForm(port_, "/REGCMD", name + "=" + UrlEncode(value));
        EXPECT_EQ(response.status, 200) << response.error;
        return response.body;
    }
};

TEST_F(ServiceEndToEnd, ReceiptsAndReportsInEveryEncoding) {
    StartWithTextDriver(true);

    EXPECT_EQ(Post("CMD", kReceipt), "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});

    EXPECT_EQ(Post("CMDBASE64", Base64Encode(kReceipt)), "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});

    // The name field of SI lines in hexadecimal: 417061 is "Apa".
    EXPECT_EQ(Post("CMDBASE64HEX", Base64Encode("BS|SI^417061^2.50^2^A|AP^0^5.00|ES")), "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});

    const HttpResponse viaGet = Get(port_, "/REGCMD?CMD=" + UrlEncode(kReceipt));
    EXPECT_EQ(viaGet.body, "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});

    EXPECT_EQ(Post("CMD", "ZR"), "OK|");
    EXPECT_EQ(TakeReceiptFiles().size(), 1u);
    EXPECT_EQ(Get(port_, "/REGCMD?CMD=XR").body, "OK|");
    EXPECT_EQ(TakeReceiptFiles().size(), 1u);

    // A VAT group that is not configured is refused with a reason. The receipt it began is
    // abandoned, so the next sale prints alone.
    const std::string refused = Post("CMD", "BS|SI^Apa^2.50^2^Z|AP^0^5.00|ES");
    EXPECT_EQ(refused, "ERR|EROARE PROTOCOL WEB LA LINIA [SI^Apa^2.50^2^Z], check log");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{});
    EXPECT_EQ(Post("CMD", kReceipt), "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});

    EXPECT_EQ(Get(port_, "/").body, "Tillvane service is active on_get");
    EXPECT_EQ(PostForm(port_, "/", "").body, "Tillvane service is active on_post");

    ExpectOrderlyStop(service_.child());
    EXPECT_EQ(service_.child().Stdout(), kHelpText);

    const std::string appLog = ReadFile(service_.File("Tillvane_se.log"));
    EXPECT_NE(appLog.find("Init from [" + service_.File("Tillvane_se.ini") + "]"),
              std::string::npos)
        << appLog;
    EXPECT_NE(appLog.find(kReceipt), std::string::npos) << "DebugMode logs the command texts";
    const std::string requestLog = ReadFile(service_.File("Tillvane_se.html"));
    EXPECT_EQ(requestLog.rfind("\xEF\xBB\xBF", 0), 0u);
    EXPECT_NE(requestLog.find("BS|SI^417061^2.50^2^A|AP^0^5.00|ES"), std::string::npos);
    EXPECT_EQ(requestLog.find("XR"), std::string::npos) << "GET requests stay out of it";
    EXPECT_FALSE(ReadFile(service_.File("_Tillvane_se.log")).empty());
}

// Two printers on one machine: the default instance and "front", one folder, each its own
// configuration, port, receipts, journal and logs; killing one leaves the other printing.
TEST_F(ServiceEndToEnd, InstancesServeApartAndOutliveEachOther) {
    ServiceProcess front(dir_, "svc", "front");
    const std::filesystem::path frontReceipts = dir_.path() / "front-receipts";
    std::filesystem::create_directories(frontReceipts);
    std::string failure;
    const int frontPort = front.StartListening(
        [&](int port) {
            front.WriteConfig({"tcpPort=" + std::to_string(port), "driverModel=SELLTEXT",
                               "outputFolder=" + frontReceipts.string(), "TVA_GROUPS=A:1"});
        },
        failure);
    ASSERT_NE(frontPort, 0) << failure;
    StartWithTextDriver(false);

    EXPECT_NE(Get(port_, "/status").body.find(R"("instance":"Tillvane_SE",)"), std::string::npos);
    EXPECT_NE(Get(frontPort, "/status").body.find(R"("instance":"Tillvane_SE_front",)"),
              std::string::npos);
    // One id at both: each journal knows only its own printer's receipts.
    const std::string withId = "CMD=" + UrlEncode(kReceipt) + "&REQUESTID=both-1";
    EXPECT_EQ(PostForm(port_, "/REGCMD", withId).body, "OK|");
    EXPECT_EQ(PostForm(frontPort, "/REGCMD", withId).body, "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(frontReceipts), {}), 1);

    ASSERT_TRUE(front.child().Signal(SIGKILL));
    ASSERT_TRUE(front.child().WaitForExit(kStopBound).has_value());
    EXPECT_EQ(Post("CMD", kReceipt), "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});
    EXPECT_NE(ReadFile(front.File("Tillvane_se_front.log"))
                  .find("Init from [" + front.File("Tillvane_se_front.ini") + "]"),
              std::string::npos);
    EXPECT_NE(ReadFile(front.File("Tillvane_se_front.jsonl")).find("both-1"), std::string::npos);
    EXPECT_FALSE(ReadFile(front.File("_Tillvane_se_front.log")).empty());
}

TEST_F(ServiceEndToEnd, WithoutConfigurationTheStartFails) {
    ChildProcess& child = service_.Start();
    // A service that cannot serve ends, with the cause's code, for systemd to show.
    EXPECT_EQ(child.WaitForExit(kStartTimeout), static_cast<int>(kStartNoConfiguration));
    EXPECT_NE(
        ReadFile(service_.File("Tillvane_se.log")).find("Nu pot incarca fisierul de configurari"),
        std::string::npos);
    EXPECT_EQ(child.Stdout(), kHelpText);
}

TEST_F(ServiceEndToEnd, BadInputLeavesTheServiceWorking) {
    StartWithTextDriver(false);
    static const char kBinaryRequest[] = "\x00\xff\x13\x88 binary\r\n\r\n";
    const std::string garbage[] = {
        std::string(kBinaryRequest, sizeof kBinaryRequest - 1),
        "GET / HTTP/9.9\r\n\r\n",
        "POST /REGCMD HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\nCMD=XR",
        "POST /REGCMD HTTP/1.1\r\nHost x\r\nno colon here\r\n\r\n",
        "GET /REGCMD?CMD=%zz%00%ff HTTP/1.1\r\nHost: x\r\n\r\n",
        std::string(70000, 'A') + "\r\n\r\n",
    };
    for (const std::string& bytes : garbage) SendRaw(port_, bytes);
    // Binary bytes inside a command text: refused or run, but answered.
    static const char kBinaryText[] = "BS|SI^\xff\x01\x7f^1^1^A|\x80\x00XX";
    const std::string binary = Post("CMD", std::string(kBinaryText, sizeof kBinaryText - 1));
    EXPECT_TRUE(binary.rfind("OK|", 0) == 0 || binary.rfind("ERR|", 0) == 0) << binary;
    TakeReceiptFiles();
    EXPECT_EQ(Post("CMD", kReceipt), "OK|");
    EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});
    ExpectOrderlyStop(service_.child());
}

}  // namespace
}  // namespace tillvane::testing
