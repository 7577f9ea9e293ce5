#include "config/setting_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ini_loader.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using testing::TempDir;
using testing::WriteFile;

struct SettingCase {
    std::string line;    // the configuration line, or "" for a missing key
    double expected;     // the value used
    std::string logged;  // the log entry, or "" for none
};

// Reads `key` with `read` from a file that holds `line`; returns the value and the entries.
template <typename Read>
double ReadFrom(const std::string& line, Read read, std::vector<std::string>& logged) {
    TempDir dir;
    WriteFile(dir.File("settings.ini"), "other=1\r\n" + line);
    INILoader configuration;
    EXPECT_TRUE(configuration.Load(dir.File("settings.ini")));
    return read(configuration, [&logged](std::string_view entry) { logged.emplace_back(entry); });
}

void Check(const std::vector<SettingCase>& cases, const auto& read) {
    for (const SettingCase& c : cases) {
        std::vector<std::string> logged;
        EXPECT_EQ(ReadFrom(c.line, read, logged), c.expected) << c.line;
        EXPECT_EQ(logged, c.logged.empty() ? std::vector<std::string>{}
                                           : std::vector<std::string>{c.logged})
            << c.line;
    }
}

// Read as far as it goes, "1.5" would be 1 and refuse every receipt of more than one line.
TEST(ReadCountSetting, AWholeNumberAboveZeroOrTheLoggedDefault) {
    const auto refused = [](const std::string& value) {
        return "maxCommandLines [" + value +
               "] is not a whole number above 0; the default 1000 "
               "is used";
    };
    Check({{"", 1000, ""},
           {"maxCommandLines=5", 5, ""},
           {"maxCommandLines= 30000 ", 30000, ""},
           {"maxCommandLines=1.5", 1000, refused("1.5")},
           {"maxCommandLines=0", 1000, refused("0")},
           {"maxCommandLines=-3", 1000, refused("-3")},
           {"maxCommandLines=5x", 1000, refused("5x")},
           {"maxCommandLines=", 1000, refused("")},
           {"maxCommandLines=99999999999", 1000, refused("99999999999")}},
          [](const INILoader& configuration, const SettingLog& log) {
              return ReadCountSetting(configuration, "maxCommandLines", 1000, log);
          });
}

TEST(ReadDaysSetting, APlainNumberAboveZeroOrTheLoggedDefault) {
    const auto refused = [](const std::string& value) {
        return "requestIdDays [" + value +
               "] is not a number of days above 0; the default 7 is "
               "used";
    };
    Check({{"", 7, ""},
           {"requestIdDays=0.5", 0.5, ""},
           {"requestIdDays=0.00002", 0.00002, ""},
           {"requestIdDays=36500", 36500, ""},
           {"requestIdDays=99999", 36500,
            "requestIdDays [99999] is more than 36500 days; 36500 is used"},
           {"requestIdDays=0,00002", 7, refused("0,00002")},
           {"requestIdDays=nan", 7, refused("nan")},
           {"requestIdDays=-1", 7, refused("-1")},
           {"requestIdDays=0", 7, refused("0")},
           {"requestIdDays=1e999", 7, refused("1e999")},
           {"requestIdDays=" + std::string(400, '9'), 7, refused(std::string(400, '9'))}},
          [](const INILoader& configuration, const SettingLog& log) {
              return ReadDaysSetting(configuration, "requestIdDays", 7, 36500, log);
          });
}

}  // namespace
}  // namespace tillvane
