// What an administrator meets deploying the real program: a configuration saved by Notepad in
// any of its encodings, and a start that cannot serve ending with its cause's exit code (what
// systemd shows).

#include <gtest/gtest.h>
#include <signal.h>

#include <optional>
#include <string>
#include <vector>

#include "app/server_start.h"
#include "tests/e2e/service_process.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"

namespace tillvane::testing {
namespace {

// `text` (ASCII) as UTF-16 with its byte-order mark, as Notepad saves "Unicode".
std::string Utf16WithMark(const std::string& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : text) {
        const char units[2] = {bigEndian ? '\0' : c, bigEndian ? c : '\0'};
        bytes.append(units, 2);
    }
    return bytes;
}

TEST(DeploymentEndToEnd, EveryNotepadEncodingGivesTheSameReceipt) {
    const struct {
        const char* name;
        std::string (*encode)(const std::string& text);
    } encodings[] = {
        {"ANSI", [](const std::string& text) { return text; }},
        {"UTF-8 with its mark", [](const std::string& text) { return "\xEF\xBB\xBF" + text; }},
        {"UTF-16 LE", [](const std::string& text) { return Utf16WithMark(text, false); }},
        {"UTF-16 BE", [](const std::string& text) { return Utf16WithMark(text, true); }},
    };
    for (const auto& encoding : encodings) {
        SCOPED_TRACE(encoding.name);
        TempDir dir;
        ServiceProcess service(dir);
        const auto receipts = dir.path() / "receipts";
        std::filesystem::create_directories(receipts);
        std::string failure;
        // tcpPort first: the key a byte-order mark used to hide.
        const int port = service.StartListening(
            [&](int port) {
                WriteFile(
                    service.File("Tillvane_se.ini"),
                    encoding.encode("tcpPort=" + std::to_string(port) +
                                    "\r\ndriverModel=SELLTEXT\r\nTVA_GROUPS=A:1\r\noutputFolder=" +
                                    receipts.string() + "\r\n"));
            },
            failure);
        ASSERT_NE(port, 0) << failure;
        EXPECT_EQ(PostForm(port, "/REGCMD", "CMD=" + UrlEncode(kReceipt)).body, "OK|");
        std::vector<std::string> printed;
        for (const auto& entry : std::filesystem::directory_iterator(receipts)) {
            printed.push_back(ReadFile(entry.path()));
        }
        EXPECT_EQ(printed, std::vector<std::string>{kReceiptFile});
        service.child().Signal(SIGTERM);
        EXPECT_EQ(service.child().WaitForExit(kStopBound), 0);
    }
}

TEST(DeploymentEndToEnd, AStartThatCannotServeEndsWithItsCausesCode) {
    // Another program on a port: the service's port in use.
    TempDir blockerDir;
    ServiceProcess blocker(blockerDir);
    std::string failure;
    const int taken = blocker.StartListening(
        [&](int port) { blocker.WriteConfig({"tcpPort=" + std::to_string(port)}); }, failure);
    ASSERT_NE(taken, 0) << failure;

    using namespace std::string_literals;
    const std::string inUse = "tcpPort=" + std::to_string(taken) + "\r\n";
    const struct {
        const char* name;
        std::optional<std::string> file;  // the configuration's bytes; none: no file at all
        std::uint32_t exitCode;
        std::string logged;
    } rows[] = {
        {"no configuration file", std::nullopt, kStartNoConfiguration, "no such file"},
        {"no text (NUL bytes)", "tcpPort=1\r\n\0"s, kStartNoConfiguration, "NUL bytes"},
        {"no tcpPort", "driverModel=SELLTEXT\r\n", kStartInvalidTcpPort,
         "tcpPort is missing or not a TCP port"},
        {"tcpPort out of range", "tcpPort=70000\r\n", kStartInvalidTcpPort,
         "tcpPort is missing or not a TCP port"},
        {"port in use", inUse, kStartPortInUse, "Address already in use"},
        {"listenAddress not an address", "tcpPort=1\r\nlistenAddress=till-1\r\n",
         kStartUnusableAddress, "listenAddress is not an IP address [till-1]"},
        {"listenAddress of another machine", inUse + "listenAddress=192.0.2.1\r\n",
         kStartUnusableAddress, "Cannot assign requested address"},
        {"allowedClients that do not parse", "tcpPort=1\r\nallowedClients=10.0.0.300\r\n",
         kStartInvalidClients, "allowedClients holds neither"},
        {"apiTokens that do not parse", "tcpPort=1\r\napiTokens=front:short\r\n",
         kStartInvalidTokens, "apiTokens entry 1 (front)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ServiceProcess service(dir);
        if (row.file) WriteFile(service.File("Tillvane_se.ini"), *row.file);
        ChildProcess& child = service.Start();
        EXPECT_EQ(child.WaitForExit(kStartTimeout), static_cast<int>(row.exitCode));
        const std::string log = ReadFile(service.File("Tillvane_se.log"));
        EXPECT_NE(log.find(row.logged), std::string::npos) << log;
    }
    blocker.child().Signal(SIGTERM);
    EXPECT_EQ(blocker.child().WaitForExit(kStopBound), 0);
}

}  // namespace
}  // namespace tillvane::testing
