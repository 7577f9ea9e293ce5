#pragma once
// The program's one decision on its command line: install, remove, run as the service, or
// do nothing; for the default instance, or for a named one ("-instance front ...").

#include <string>

#include "service/service_instance.h"

namespace tillvane {

enum class CommandLineAction {
    kInstall,     // "-install" or "/install", any letter case
    kRemove,      // "-remove" or "/remove", any letter case
    kNothing,     // another switch ("--install", "-x"): no output, no run
    kRunService,  // no argument, or one without a switch character: help text, then run
    kRefused,     // "-instance" without a usable name: the reason, the help text, exit 64
};

// `argv[0]` is the program; `argc` counts it. Only the first argument counts.
CommandLineAction ParseCommandLine(int argc, const char* const* argv);

// True for "-install auto" (any letter case): the service then starts with the system.
bool InstallsForAutomaticStart(int argc, const char* const* argv);

struct CommandLine {
    CommandLineAction action = CommandLineAction::kRunService;
    ServiceInstance instance;  // the default one unless "-instance <name>" came first
    bool automaticStart = false;
    std::string refusal;  // why, for kRefused
};

// The whole command line: "-instance <name>" (switch "-" or "/", any letter case) first
// names the instance, and what follows the name decides as a command line of its own does;
// without it, the default instance as ParseCommandLine decides.
CommandLine ReadCommandLine(int argc, const char* const* argv);

inline constexpr const char* kHelpText =
    "Parameters:\n"
    " -install  to install the service.\n"
    " -remove   to remove the service.\n"
    " -instance <name> -install [auto]  to install another printer's service, Tillvane_SE_<name>.\n"
    " -instance <name> -remove          to remove it.\n"
    " -instance <name>                  to run it (files: Tillvane_se_<name>.ini, .log, ...).\n";

}  // namespace tillvane
