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

// A value read as far as it goes ("1.5" as 1 line, "0,5" as 0 days) is refused whole: the
// default stays, and the log names the key, the value and the default.
TEST(SettingValues, RefusedValuesKeepTheLoggedDefault) {
    const std::string notCount = "] is not a whole number above 0; the default 1000 is used";
    const std::string notDays = "] is not a number of days above 0; the default 7 is used";
    const struct {
        std::string line;  // "" for a missing key
        double expected;
        std::string logged;  // "" for nothing
    } cases[] = {
        {"", 1000, ""},
        {"n= 5 ", 5, ""},
        {"n=1.5", 1000, "n [1.5" + notCount},
        {"n=0", 1000, "n [0" + notCount},
        {"n=99999999999", 1000, "n [99999999999" + notCount},
        {"d=0.00002", 0.00002, ""},
        {"d=99999", 36500, "d [99999] is more than 36500 days; 36500 is used"},
        {"d=0,00002", 7, "d [0,00002" + notDays},
        {"d=nan", 7, "d [nan" + notDays},
        {"d=-1", 7, "d [-1" + notDays},
        {"d=1e999", 7, "d [1e999" + notDays},
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteFile(dir.File("settings.ini"), "other=1\r\n" + c.line);
        INILoader configuration;
        ASSERT_TRUE(configuration.Load(dir.File("settings.ini")).ok());
        std::vector<std::string> logged;
        const SettingLog log = [&logged](std::string_view entry) { logged.emplace_back(entry); };
        const double value = c.line.starts_with("d=")
                                 ? ReadDaysSetting(configuration, "d", 7, 36500, log)
                                 : ReadCountSetting(configuration, "n", 1000, log);
        EXPECT_EQ(value, c.expected) << c.line;
        EXPECT_EQ(logged, c.logged.empty() ? std::vector<std::string>{}
                                           : std::vector<std::string>{c.logged})
            << c.line;
    }
}

}  // namespace
}  // namespace tillvane
