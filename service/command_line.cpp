#include "service/command_line.h"

#include <string>

#include "base/text_split.h"

namespace tillvane {

CommandLineAction ParseCommandLine(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr) return CommandLineAction::kRunService;
    const char* argument = argv[1];
    if (argument[0] != '-' && argument[0] != '/') return CommandLineAction::kRunService;
    const std::string word = ToUpperAscii(argument + 1);
    if (word == "INSTALL") return CommandLineAction::kInstall;
    if (word == "REMOVE") return CommandLineAction::kRemove;
    return CommandLineAction::kNothing;
}

bool InstallsForAutomaticStart(int argc, const char* const* argv) {
    return ParseCommandLine(argc, argv) == CommandLineAction::kInstall && argc >= 3 &&
           argv[2] != nullptr && ToUpperAscii(argv[2]) == "AUTO";
}

}  // namespace tillvane
