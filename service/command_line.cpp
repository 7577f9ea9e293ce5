#include "service/command_line.h"

#include <string>

#include "base/text_split.h"

namespace tillvane {

namespace {

bool IsSwitch(const char* argument, const char* upperCaseWord) {
    return argument != nullptr && (argument[0] == '-' || argument[0] == '/') &&
           ToUpperAscii(argument + 1) == upperCaseWord;
}

}  // namespace

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

CommandLine ReadCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    if (argc < 2 || !IsSwitch(argv[1], "INSTANCE")) {
        line.action = ParseCommandLine(argc, argv);
        line.automaticStart = InstallsForAutomaticStart(argc, argv);
        return line;
    }
    const char* name = argc >= 3 && argv[2] != nullptr ? argv[2] : "";
    Result<ServiceInstance> instance = ServiceInstance::Named(name);
    if (!instance) {
        line.refusal = instance.error().text();
        line.action = CommandLineAction::kRefused;
        return line;
    }
    line.instance = std::move(*instance);
    // The name stands where the program stood: the rest reads as today's command line does.
    line.action = ParseCommandLine(argc - 2, argv + 2);
    line.automaticStart = InstallsForAutomaticStart(argc - 2, argv + 2);
    return line;
}

}  // namespace tillvane
