// The service's settings as one configuration file gives them: each key, its default, and the
// file that cannot be read.

#include "config/settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;
using testing::WriteFile;

TEST(SettingsTest, EachKeyAndItsDefault) {
    const auto days = [](double count) {
        return std::chrono::seconds(static_cast<long long>(count * kSecondsPerDay));
    };
    const struct {
        const char* name;
        std::string file;
        std::function<bool(const Settings&)> holds;
    } rows[] = {
        {"an empty file: every default", "",
         [&](const Settings& s) {
             return s.tcpPort == 0 && !s.debugMode &&
                    s.maxCommandLines == kDefaultMaxCommandLines &&
                    s.idRetention == days(kDefaultRequestIdDays) &&
                    s.journalRetention == days(kDefaultJournalDays) && s.listenAddress.empty() &&
                    s.allowedClients.empty() && s.allowedHosts.empty() && s.allowedOrigins.empty();
         }},
        {"tcpPort", "TCPPORT=8088", [](const Settings& s) { return s.tcpPort == 8088; }},
        {"tcpPort read as far as it is a number", "tcpPort= 8088x",
         [](const Settings& s) { return s.tcpPort == 8088; }},
        {"tcpPort not a number", "tcpPort=http", [](const Settings& s) { return s.tcpPort == 0; }},
        {"DebugMode", "DebugMode=2", [](const Settings& s) { return s.debugMode; }},
        {"DebugMode 0", "DebugMode=0", [](const Settings& s) { return !s.debugMode; }},
        {"maxCommandLines", "maxCommandLines=20",
         [](const Settings& s) { return s.maxCommandLines == 20; }},
        {"retentions, fractions rounded up to a second", "requestIdDays=0.5\r\njournalDays=1",
         [&](const Settings& s) {
             return s.idRetention == days(0.5) && s.journalRetention == days(1);
         }},
        {"retention above its bound", "journalDays=99999",
         [&](const Settings& s) { return s.journalRetention == days(kMaxRetentionDays); }},
        {"lists as written",
         "listenAddress=::\r\nallowedClients=10.0.0.0/8, ::1\r\n"
         "allowedHosts=pos\r\nallowedOrigins=http://till",
         [](const Settings& s) {
             return s.listenAddress == "::" && s.allowedClients == "10.0.0.0/8, ::1" &&
                    s.allowedHosts == "pos" && s.allowedOrigins == "http://till";
         }},
        {"the first of a repeated key", "tcpPort=1\r\ntcpPort=2",
         [](const Settings& s) { return s.tcpPort == 1; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        WriteFile(dir.File("Tillvane_se.ini"), row.file);
        std::vector<std::string> log;
        const Result<Settings> settings = ReadSettings(
            dir.File("Tillvane_se.ini"), [&](std::string_view e) { log.emplace_back(e); }, {});
        ASSERT_TRUE(settings.ok());
        EXPECT_TRUE(row.holds(*settings));
    }
}

// The drivers' keys are no mistake, an unknown key is logged once, and a key that holds an
// access key whole is kept for the start to refuse.
TEST(SettingsTest, UnknownKeysAreLoggedOnceAndMisspeltAccessKeysKept) {
    TempDir dir;
    WriteFile(dir.File("a.ini"), "DRIVERMODEL=x\r\ncolour=red\r\nCOLOUR=1\r\noldApiTokens=x");
    const std::string_view driverKeys[] = {"driverModel"};
    std::vector<std::string> log;
    const Result<Settings> settings = ReadSettings(
        dir.File("a.ini"), [&](std::string_view e) { log.emplace_back(e); }, driverKeys);
    EXPECT_EQ(log, std::vector<std::string>{"Unknown key [colour] ignored"});
    EXPECT_EQ(settings->misspeltAccessKey->key, "oldApiTokens");
}

TEST(SettingsTest, AFileThatCannotBeReadIsNamedWithTheReason) {
    TempDir dir;
    const struct {
        const char* name;
        std::optional<std::string> file;
        std::string reason;
    } rows[] = {
        {"missing", std::nullopt, "no such file"},
        {"no text", std::string("tcpPort=1\0", 10),
         "holds NUL bytes (UTF-16 saved without a byte-order mark?); save it as ANSI, UTF-8 or "
         "Unicode"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.File(std::string(row.name) + ".ini");
        if (row.file) WriteFile(path, *row.file);
        std::vector<std::string> log;
        EXPECT_FALSE(ReadSettings(path, [&](std::string_view e) { log.emplace_back(e); }, {}));
        EXPECT_EQ(log, std::vector<std::string>{"Nu pot incarca fisierul de configurari [" + path +
                                                "]: " + row.reason});
    }
}

}  // namespace
}  // namespace tillvane
