#pragma once
// Starts a program as a child of this process with fork and exec, set up between the two as
// a helper needs it: standard streams, working directory, environment, nothing blocked and
// the usual signal dispositions whatever this process has set. Everything the child uses is
// prepared before fork: between fork and exec a process with threads may make only
// async-signal-safe calls.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace tillvane::platform {

struct ProgramStart {
    // The program (looked up in PATH unless it holds a "/"), then its arguments.
    std::vector<std::string> arguments;
    // "NAME=value" entries; none: this process's environment.
    std::optional<std::vector<std::string>> environment;
    std::string workingDirectory;  // empty: this process's
    // The child's standard input, output and error; -1: this process's.
    int input = -1;
    int output = -1;
    int errors = -1;
    // The child gets SIGKILL when the thread that started it ends, so that a starter that
    // dies does not leave it running.
    bool endsWithStarter = false;
};

struct StartedProgram {
    pid_t pid = -1;  // -1: it did not start, and `error` says why
    Error error;
};

// A failed fork, set-up or exec leaves no child behind.
StartedProgram StartProgram(const ProgramStart& start);

// The exit status a shell would show for `waitStatus`: the exit code, or 128 plus the signal
// that ended the program; -1 for neither.
int ExitStatusOf(int waitStatus);

// Waits for child `pid` to end: its exit status (see ExitStatusOf), -1 when it cannot be
// waited for.
int WaitForExit(pid_t pid);

}  // namespace tillvane::platform
