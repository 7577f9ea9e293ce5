#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/command_line.h"

namespace tillvane {
namespace {

struct CommandLineCase {
    std::vector<const char*> arguments;  // after the program name
    CommandLineAction action;
};

TEST(CommandLineTest, OnlyTheFirstArgumentDecides) {
    const CommandLineCase cases[] = {
        {{}, CommandLineAction::kRunService},
        {{"-install"}, CommandLineAction::kInstall},
        {{"/install"}, CommandLineAction::kInstall},
        {{"/INSTALL"}, CommandLineAction::kInstall},
        {{"-Install"}, CommandLineAction::kInstall},
        {{"-install", "-remove"}, CommandLineAction::kInstall},
        {{"-remove"}, CommandLineAction::kRemove},
        {{"-REMOVE"}, CommandLineAction::kRemove},
        {{"/Remove", "extra"}, CommandLineAction::kRemove},
        {{"--install"}, CommandLineAction::kNothing},
        {{"-installx"}, CommandLineAction::kNothing},
        {{"-"}, CommandLineAction::kNothing},
        {{"/"}, CommandLineAction::kNothing},
        {{"-x", "-install"}, CommandLineAction::kNothing},
        {{"install"}, CommandLineAction::kRunService},
        {{"remove"}, CommandLineAction::kRunService},
        {{""}, CommandLineAction::kRunService},
        {{"\\install"}, CommandLineAction::kRunService},
        {{"x", "-install"}, CommandLineAction::kRunService},
    };
    for (const CommandLineCase& c : cases) {
        std::vector<const char*> argv = {"Tillvane_se"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string shown;
        for (const char* argument : c.arguments) shown += std::string("[") + argument + "]";
        EXPECT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data()), c.action) << shown;
    }
}

TEST(CommandLineTest, InstanceNamesAreShortAndSafeOrRefused) {
    const std::string longest(kMaxInstanceNameLength, 'a');
    const std::string tooLong = longest + "a";
    struct InstanceCase {
        std::vector<const char*> arguments;
        CommandLineAction action;
        std::string serviceName;  // when not refused
    };
    const InstanceCase cases[] = {
        {{"-instance", "front"}, CommandLineAction::kRunService, "Tillvane_SE_front"},
        {{"/INSTANCE", "Bar-2_b", "-install", "auto"},
         CommandLineAction::kInstall,
         "Tillvane_SE_Bar-2_b"},
        {{"-instance", "front", "-remove"}, CommandLineAction::kRemove, "Tillvane_SE_front"},
        {{"-instance", longest.c_str()}, CommandLineAction::kRunService, "Tillvane_SE_" + longest},
        {{"-instance"}, CommandLineAction::kRefused, ""},
        {{"-instance", "-install"}, CommandLineAction::kRefused, ""},
        {{"-instance", tooLong.c_str()}, CommandLineAction::kRefused, ""},
        {{"-instance", "front desk"}, CommandLineAction::kRefused, ""},
        {{"-instance", "a.b"}, CommandLineAction::kRefused, ""},
        {{"-instance", "..\\x"}, CommandLineAction::kRefused, ""},
        {{"-instance", "caf\xc3\xa9"}, CommandLineAction::kRefused, ""},
    };
    for (const InstanceCase& c : cases) {
        std::vector<const char*> argv = {"Tillvane_se"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const CommandLine line = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
        const std::string shown = c.arguments.size() > 1 ? c.arguments[1] : "(none)";
        EXPECT_EQ(line.action, c.action) << shown;
        if (c.action == CommandLineAction::kRefused) {
            EXPECT_NE(
                line.refusal.find(c.arguments.size() > 1 ? "[" + shown + "]" : "needs a name"),
                std::string::npos);
        } else {
            EXPECT_EQ(line.instance.serviceName(), c.serviceName) << shown;
            EXPECT_EQ(line.automaticStart, c.arguments.size() == 4) << shown;
        }
    }
}

}  // namespace
}  // namespace tillvane
