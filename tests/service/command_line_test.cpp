#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tillvane
