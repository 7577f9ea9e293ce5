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

const std::string kErrorHead = "ERR|EROARE PROTOCOL WEB LA LINIA [";

using ConfigurationMistakesEndToEnd = TextDriverEndToEnd;

TEST_F(ConfigurationMistakesEndToEnd, EachIsNamedAndNoneOpensTheServerOrPrints) {
    const struct {
        const char* name;
        std::vector<std::string> settings;
        std::uint32_t exitCode;  // kServerStarted: the program serves and gets `command`
        std::string command;
        int status;
        std::string reply;  // how the answer begins
        std::string logFile;
        std::vector<std::string> logged;
    } rows[] = {
        {"blank before = in apiTokens",
         {"apiTokens = front:9c1f0e6d2b7a4c58a3e1"},
         kServerStarted,
         kReceipt,
         401,
         "ERR|",
         "Tillvane_se.log",
         {"Request without a token refused"}},
        {"tab before = in allowedClients",
         {"allowedClients\t=10.1.1.1"},
         kServerStarted,
         kReceipt,
         403,
         "ERR|client not allowed",
         "Tillvane_se.log",
         {"Client not allowed: 127.0.0.1"}},
        {"blank before = in listenAddress, an unknown key",
         {"listenAddress =127.0.0.1", "DebugMod=1"},
         kServerStarted,
         "",
         0,
         "",
         "Tillvane_se.log",
         {"Unknown key [DebugMod] ignored; did you mean DebugMode?", ", address 127.0.0.1"}},
        {"apiTokens misspelt",
         {"apiToken=front:9c1f0e6d2b7a4c58a3e1"},
         kStartInvalidTokens,
         "",
         0,
         "",
         "Tillvane_se.log",
         {"Unknown key [apiToken] looks like apiTokens"}},
        {"allowedOrigins misspelt",
         {"allowedOrigin=http://till"},
         kStartMisspeltAccessKey,
         "",
         0,
         "",
         "Tillvane_se.log",
         {"Unknown key [allowedOrigin] looks like allowedOrigins"}},
        {"TVA_GROUPS entry without a code",
         {"TVA_GROUPS=A"},
         kServerStarted,
         kReceipt,
         200,
         "ERR|",
         "_Tillvane_se.log",
         {"TVA_GROUPS entry [A] refused"}},
        {"TVA_GROUPS entries split at a comma",
         {"TVA_GROUPS=A:1,B:2"},
         kServerStarted,
         kReceipt,
         200,
         "ERR|",
         "_Tillvane_se.log",
         {"TVA_GROUPS entry [A:1,B:2] refused"}},
        {"empty price",
         {"TVA_GROUPS=A:1"},
         kServerStarted,
         "BS|SI^Apa^^1^A|AP^0^5|ES",
         200,
         kErrorHead + "SI^Apa^^1^A], invalid price []",
         "_Tillvane_se.log",
         {"Receipt abandoned"}},
        {"empty quantity",
         {"TVA_GROUPS=A:1"},
         kServerStarted,
         "BS|SI^Apa^2.50^^A|AP^0^5|ES",
         200,
         kErrorHead + "SI^Apa^2.50^^A], invalid quantity []",
         "_Tillvane_se.log",
         {"invalid quantity []"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(service_.File(row.logFile));
        if (row.exitCode == kServerStarted) {
            StartTextDriver(row.settings);
            if (!row.command.empty()) {
                const HttpResponse answer =
                    PostForm(port_, "/REGCMD", "CMD=" + UrlEncode(row.command));
                EXPECT_EQ(answer.status, row.status);
                EXPECT_TRUE(answer.body.starts_with(row.reply)) << answer.body;
            }
            service_.child().Signal(SIGTERM);
            EXPECT_EQ(service_.child().WaitForExit(kStopBound), 0);
        } else {
            ConfigureTextDriver(row.settings);
            EXPECT_EQ(service_.Start().WaitForExit(kStartTimeout), static_cast<int>(row.exitCode));
        }
        const std::string log = ReadFile(service_.File(row.logFile));
        for (const std::string& entry : row.logged) {
            EXPECT_NE(log.find(entry), std::string::npos) << log;
        }
        EXPECT_EQ(TakeReceiptFiles(), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace tillvane::testing
