#pragma once
// A program started by a test: arguments, working directory and environment of the test's
// choosing, its standard output and error collected, signals, and a bounded wait for its
// exit. A child still running when the object goes is killed, and so is a child whose test
// process dies: it gets SIGKILL when the thread that started it ends, so start it from the
// test's own thread.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillvane::testing {

struct ChildOptions {
    std::string program;                 // a path
    std::vector<std::string> arguments;  // after the program name
    std::string workingDirectory;        // empty: the test's own
    // Set in the child's environment on top of the test's; listed in `unset` to remove.
    std::map<std::string, std::string> environment;
    std::vector<std::string> unset;
};

class ChildProcess {
  public:
    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const ChildOptions& options);
    // Kills the child (SIGKILL) if it still runs and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool Signal(int signal);

    // The exit code once the child has ended (128 + the signal when a signal ended it), or
    // nothing when it still runs after `timeout`.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    bool exited() const { return exitCode_.has_value(); }

    // Everything the child has written so far.
    std::string Stdout() const;
    std::string Stderr() const;
    // True once the standard output holds `text`, false when `timeout` passed first.
    bool WaitForStdout(std::string_view text, std::chrono::milliseconds timeout) const;

  private:
    struct Output;

    pid_t pid_ = -1;
    std::optional<int> exitCode_;
    std::unique_ptr<Output> output_;
};

}  // namespace tillvane::testing
