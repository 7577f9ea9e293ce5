#pragma once
// Runs a helper program (systemctl, useradd) and collects what it prints on standard output.

#include <string>
#include <vector>

namespace tillvane::platform {

struct CommandResult {
    bool started = false;  // false: the program could not be started; `errorCode` tells why
    int errorCode = 0;     // errno of the failed start
    int exitStatus = -1;   // exit code, or 128 + the signal that ended the program
    std::string output;    // standard output; standard error goes to ours

    bool succeeded() const { return started && exitStatus == 0; }
    // The number that describes a failure: errno when it could not start, else its exit code.
    int failureCode() const { return started ? exitStatus : errorCode; }
};

// Runs `arguments` (the program, looked up in PATH unless it holds a "/", then its arguments)
// and waits for it to end.
CommandResult RunCommand(const std::vector<std::string>& arguments);

}  // namespace tillvane::platform
