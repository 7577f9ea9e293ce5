// The sample configuration the packages install (the .deb's Tillvane_se.ini, the MSI's and
// zip's Tillvane_se.ini.sample) read as the service reads it: its comments, its commented-out
// keys and the section line Windows' INI writers need give no value and no complaint.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ini_loader.h"
#include "config/settings.h"
#include "registers/register_host.h"

namespace tillvane {
namespace {

const std::string kSample = std::string(TILLVANE_SOURCE_DIR) + "/packaging/Tillvane_se.ini.sample";

TEST(SampleConfiguration, GivesTheDocumentedSettingsAndNothingElse) {
    std::vector<std::string> complaints;
    const Result<Settings> settings = ReadSettings(
        kSample, [&](std::string_view text) { complaints.emplace_back(text); },
        RegisterHost::SettingKeys());
    ASSERT_TRUE(settings.ok());
    EXPECT_EQ(complaints, std::vector<std::string>{});
    EXPECT_EQ(settings->tcpPort, 8088);
    EXPECT_EQ(settings->listenAddress, "127.0.0.1");
    EXPECT_FALSE(settings->debugMode);
    EXPECT_EQ(settings->maxCommandLines, kDefaultMaxCommandLines);
    EXPECT_EQ(settings->allowedHosts, "");

    INILoader loader;
    ASSERT_TRUE(loader.Load(kSample).ok());
    const struct {
        const char* key;
        const char* value;  // nullptr: not set, the program's default applies
    } rows[] = {
        {"driverModel", "SELLTEXT"},
        {"TVA_GROUPS", "A:1|B:2|C:3|D:4"},
        {"outputFolder", ""},
        {"allowedClients", ""},
        {"Port", nullptr},
        {"baudRate", nullptr},
        {"portCandidates", nullptr},
        {"apiTokens", nullptr},
        {"maxItemNameSize", nullptr},
        {"outputFileName", nullptr},
    };
    for (const auto& row : rows) {
        std::string value;
        EXPECT_EQ(loader.GetValue(value, row.key), row.value != nullptr) << row.key;
        if (row.value != nullptr) {
            EXPECT_EQ(value, row.value) << row.key;
        }
    }
}

}  // namespace
}  // namespace tillvane
