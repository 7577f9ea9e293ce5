// Configuration mistakes an administrator makes, through the real program: each one is named in
// a log, an access setting written wrongly never leaves the server open, and nothing a mistake
// lets through reaches a receipt.

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "app/server_start.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/http_client.h"

namespace tillvane::testing {
namespace {

using ConfigurationMistakesEndToEnd = TextDriverEndToEnd;

TEST_F(ConfigurationMistakesEndToEnd, EachIsNamedAndNoneOpensTheServerOrPrints) {
    const struct {
        std::string setting;
        std::uint32_t exitCode;  // kServerStarted: the program serves and is sent `command`
        std::string command;
        std::string reply;   // how the answer begins
        std::string logged;  // in the application or the register log, by this row alone
    } rows[] = {
        {"apiTokens = front:9c1f0e6d2b7a4c58a3e1", kServerStarted, kReceipt, "ERR|",
         "Request without a token refused"},
        {"allowedClients\t=10.1.1.1", kServerStarted, kReceipt, "ERR|client not allowed",
         "Client not allowed: 127.0.0.1"},
        {"listenAddress =127.0.0.1", kServerStarted, "", "", ", address 127.0.0.1"},
        {"DebugMod=1", kServerStarted, "", "",
         "Unknown key [DebugMod] ignored; did you mean DebugMode?"},
        {"apiToken=front:9c1f0e6d2b7a4c58a3e1", kStartInvalidTokens, "", "",
         "Unknown key [apiToken] looks like apiTokens"},
        {"allowedOrigin=http://till", kStartMisspeltAccessKey, "", "",
         "Unknown key [allowedOrigin] looks like allowedOrigins"},
        {"TVA_GROUPS=A", kServerStarted, kReceipt, "ERR|", "TVA_GROUPS entry [A] refused"},
        {"TVA_GROUPS=A:1,B:2", kServerStarted, kReceipt, "ERR|",
         "TVA_GROUPS entry [A:1,B:2] refused"},
        {"TVA_GROUPS=A:1", kServerStarted, "BS|SI^Apa^^1^A|AP^0^5|ES", "ERR|EROARE",
         "[SI^Apa^^1^A], invalid price []"},
        {"TVA_GROUPS=A:1", kServerStarted, "BS|SI^Apa^2.50^^A|AP^0^5|ES", "ERR|EROARE",
         "[SI^Apa^2.50^^A], invalid quantity []"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.setting);
        if (row.exitCode == kServerStarted) {
            StartTextDriver({row.setting});
            if (!row.command.empty()) {
                const std::string reply =
                    PostForm(port_, "/REGCMD", "CMD=" + UrlEncode(row.command)).body;
                EXPECT_TRUE(reply.starts_with(row.reply)) << reply;
            }
            service_.child().Signal(SIGTERM);
            EXPECT_EQ(service_.child().WaitForExit(kStopBound), 0);
        } else {
            ConfigureTextDriver({row.setting});
            EXPECT_EQ(service_.Start().WaitForExit(kStartTimeout), static_cast<int>(row.exitCode));
        }
        const std::string logs = ReadFile(service_.File("Tillvane_se.log")) +
                                 ReadFile(service_.File("_Tillvane_se.log"));
        EXPECT_NE(logs.find(row.logged), std::string::npos) << logs;
        EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace tillvane::testing
