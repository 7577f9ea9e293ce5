// The real program meeting requests as tills and scripts really send them: Base64 wrapped by
// `base64`, a "+" that arrived as a blank, bodies that are no form; and a serial line at a
// speed that has no constant of its own. Each odd request is followed by an ordinary receipt.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/service_process.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/base64_encode.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"

namespace tillvane::testing {
namespace {

// Its Base64 holds a "+": the bytes "e>1" encode as "ZT4x", "te>" as "dGU+".
constexpr const char* kPlusReceipt = "BS|SI^Lapte>1l^4.00^1^B|AP^0^4.00|ES";
constexpr const char* kPlusReceiptFile =
    "S,1,______,_,__;Lapte>1l;4.00;1.000;1;1;2;0;0;\n"
    "T,1,______,_,__;0;4.00;;;;\n";
constexpr const char* kLongReceipt =
    "BS|SI^Apa minerala^2.50^2^A|SI^Lapte>1l^4.00^1^B|AP^0^9.00|ES";
constexpr const char* kLongReceiptFile =
    "S,1,______,_,__;Apa minerala;2.50;2.000;1;1;1;0;0;\n"
    "S,1,______,_,__;Lapte>1l;4.00;1.000;1;1;2;0;0;\n"
    "T,1,______,_,__;0;9.00;;;;\n";
constexpr std::size_t kBase64ToolColumns = 76;
constexpr const char* kUrlEncodedHint = "; send application/x-www-form-urlencoded";

// `bytes` in Base64 as the `base64` tool writes it: lines of `columns`, each ending in "\n".
std::string Base64Lines(const std::string& bytes, std::size_t columns) {
    const std::string text = Base64Encode(bytes);
    std::string wrapped;
    for (std::size_t at = 0; at < text.size(); at += columns) {
        wrapped += text.substr(at, columns) + "\n";
    }
    return wrapped;
}

std::string RawPost(const std::string& headers, const std::string& body) {
    return "POST /REGCMD HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string UrlEncodedPost(const std::string& body) {
    return RawPost("Content-Type: application/x-www-form-urlencoded\r\n", body);
}

using RequestEncodingEndToEnd = TextDriverEndToEnd;

TEST_F(RequestEncodingEndToEnd, OddRequestsRunWholeOrNotAtAllAndTheNextReceiptPrints) {
    StartTextDriver({"TVA_GROUPS=A:1|B:2"});

    const std::string wrapped = Base64Lines(kLongReceipt, kBase64ToolColumns);
    ASSERT_NE(wrapped.find('\n'), wrapped.size() - 1) << "must span two lines";
    const std::string withPlus = Base64Lines(kPlusReceipt, kBase64ToolColumns);
    ASSERT_NE(withPlus.find('+'), std::string::npos);
    const std::string clean = Base64Lines(kReceipt, kBase64ToolColumns);
    // A "*" after "BS|SI^Apa": its prefix used to run and stay open.
    const std::string broken = clean.substr(0, 12) + "*" + clean.substr(12);

    struct Case {
        const char* name;
        std::string request;
        int status;
        std::string reply;
        std::vector<std::string> files;  // the receipt files the request leaves
    };
    const Case cases[] = {
        {"Base64 wrapped at 76 columns",
         UrlEncodedPost("CMDBASE64=" + UrlEncode(wrapped)),
         200,
         "OK|",
         {kLongReceiptFile}},
        {"a \"+\" sent unencoded arrives as a blank",
         UrlEncodedPost("CMDBASE64=" + withPlus.substr(0, withPlus.size() - 1)),
         200,
         "OK|",
         {kPlusReceiptFile}},
        {"no Base64 at all",
         UrlEncodedPost("CMDBASE64=!!!!"),
         200,
         "ERR|invalid Base64 at position 1",
         {}},
        {"a foreign character midway",
         UrlEncodedPost("CMDBASE64=" + UrlEncode(broken)),
         200,
         "ERR|invalid Base64 at position 13",
         {}},
        {"text/plain body",
         RawPost("Content-Type: Text/Plain; charset=UTF-8\r\n", "CMD=" + UrlEncode(kReceipt)),
         415,
         std::string("ERR|unsupported Content-Type text/plain") + kUrlEncodedHint,
         {}},
        {"a body without Content-Type",
         RawPost("", "CMD=" + UrlEncode(kReceipt)),
         415,
         std::string("ERR|unsupported Content-Type (none)") + kUrlEncodedHint,
         {}},
        {"a multipart form without its boundary",
         RawPost("Content-Type: multipart/form-data; boundary=x\r\n", "CMD=BS"),
         400,
         "ERR|malformed multipart form",
         {}},
        {"an empty POST runs the empty text", RawPost("", ""), 200, "OK|", {}},
        {"an empty text/plain POST too",
         RawPost("Content-Type: text/plain\r\n", ""),
         200,
         "OK|",
         {}},
    };
    const std::string registerLog = service_.File("_Tillvane_se.log");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string logBefore = ReadFile(registerLog);
        const HttpResponse response = SendRaw(port_, c.request);
        EXPECT_EQ(response.status, c.status) << response.error;
        EXPECT_EQ(response.body, c.reply);
        EXPECT_EQ(TakeReceiptFiles(), c.files);
        if (c.files.empty()) {
            EXPECT_EQ(ReadFile(registerLog), logBefore) << "nothing ran";
        }

        EXPECT_EQ(PostForm(port_, "/REGCMD", "CMD=" + UrlEncode(kReceipt)).body, "OK|");
        EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{kReceiptFile});
    }
    ASSERT_TRUE(service_.child().Signal(SIGTERM));
    EXPECT_EQ(service_.child().WaitForExit(kStopBound), 0);
}

// 14400 has no B constant on Linux: it used to leave the driver without a port.
TEST(SerialLineSpeedEndToEnd, PrintsAtASpeedWithoutAConstant) {
    TempDir dir;
    ChildProcess simulator(
        {std::string(TILLVANE_BINARY_DIR) + "/tools/printer_simulator/printer_simulator",
         {"--journal", dir.File("journal.txt")},
         {},
         {},
         {}});
    ASSERT_TRUE(simulator.WaitForStdout("\n", kStartTimeout)) << simulator.Stderr();
    const std::string device = simulator.Stdout().substr(0, simulator.Stdout().find('\n'));
    ServiceProcess service(dir);
    std::string failure;
    const int port = service.StartListening(
        [&](int candidate) {
            service.WriteConfig({"driverModel=SERIALUFP", "Port=" + device, "baudRate=14400",
                                 "TVA_GROUPS=A:1|B:2", "tcpPort=" + std::to_string(candidate)});
        },
        failure);
    ASSERT_NE(port, 0) << failure;
    EXPECT_EQ(PostForm(port, "/REGCMD", "CMD=" + UrlEncode(kReceipt)).body, "OK|");
    EXPECT_NE(
        ReadFile(dir.File("journal.txt")).find("CLOSE RECEIPT TOTAL 5.00 PAID 5.00 CHANGE 0.00"),
        std::string::npos);
    EXPECT_EQ(ReadFile(service.File("_Tillvane_se.log")).find("Eroare"), std::string::npos);
    ASSERT_TRUE(service.child().Signal(SIGTERM));
    EXPECT_EQ(service.child().WaitForExit(kStopBound), 0);
}

}  // namespace
}  // namespace tillvane::testing
