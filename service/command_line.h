#pragma once
// The program's one decision on its command line: install, remove, run as the service, or
// do nothing. Only the first argument counts.

namespace tillvane {

enum class CommandLineAction {
    kInstall,     // "-install" or "/install", any letter case
    kRemove,      // "-remove" or "/remove", any letter case
    kNothing,     // another switch ("--install", "-x"): no output, no run
    kRunService,  // no argument, or one without a switch character: help text, then run
};

// `argv[0]` is the program; `argc` counts it.
CommandLineAction ParseCommandLine(int argc, const char* const* argv);

// True for "-install auto" (any letter case): the service then starts with the system.
bool InstallsForAutomaticStart(int argc, const char* const* argv);

inline constexpr const char* kHelpText =
    "Parameters:\n"
    " -install  to install the service.\n"
    " -remove   to remove the service.\n";

}  // namespace tillvane
