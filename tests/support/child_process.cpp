#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/posix/start_program.h"
#include "platform/posix/unique_fd.h"
#include "tests/support/wait.h"

extern char** environ;

namespace tillvane::testing {

namespace {

inline constexpr std::size_t kReadChunkSize = 4096;

class Pipe {
  public:
    Pipe() {
        if (pipe2(ends_, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int read() const { return ends_[0]; }
    int write() const { return ends_[1]; }
    void CloseRead() { Close(ends_[0]); }
    void CloseWrite() { Close(ends_[1]); }

  private:
    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int ends_[2] = {-1, -1};
};

std::vector<std::string> ChildEnvironment(const ChildOptions& options) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : options.environment) variables[name] = value;
    for (const std::string& name : options.unset) variables.erase(name);
    std::vector<std::string> result;
    for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
    return result;
}

}  // namespace

// Collects both output pipes on a thread of its own until both reach their end or the owner
// asks it to stop (a stop pipe), so a grandchild holding a pipe open cannot block the test.
struct ChildProcess::Output {
    Pipe out;
    Pipe err;
    Pipe stop;
    mutable std::mutex mutex;
    std::string stdoutText;
    std::string stderrText;
    std::condition_variable finishedChanged;
    bool finished = false;
    std::thread reader;

    void Read() {
        ReadUntilEnd();
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        finishedChanged.notify_all();
    }

    // True once both pipes have reached their end, false when `timeout` passed first.
    bool WaitUntilFinished(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return finishedChanged.wait_for(lock, timeout, [this] { return finished; });
    }

    void ReadUntilEnd() {
        pollfd watched[3] = {
            {out.read(), POLLIN, 0}, {err.read(), POLLIN, 0}, {stop.read(), POLLIN, 0}};
        int open = 2;
        while (open > 0) {
            if (poll(watched, 3, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (watched[2].revents != 0) return;
            for (int i = 0; i < 2; ++i) {
                if (watched[i].fd < 0 || watched[i].revents == 0) continue;
                char chunk[kReadChunkSize];
                const ssize_t got = ::read(watched[i].fd, chunk, sizeof chunk);
                if (got > 0) {
                    std::lock_guard lock(mutex);
                    (i == 0 ? stdoutText : stderrText).append(chunk, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    watched[i].fd = -1;
                    --open;
                }
            }
        }
    }
};

ChildProcess::ChildProcess(const ChildOptions& options) : output_(std::make_unique<Output>()) {
    const platform::UniqueFd input(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!input.valid()) throw std::runtime_error("cannot open /dev/null");
    platform::ProgramStart start;
    start.arguments = {options.program};
    start.arguments.insert(start.arguments.end(), options.arguments.begin(),
                           options.arguments.end());
    start.environment = ChildEnvironment(options);
    start.workingDirectory = options.workingDirectory;
    start.input = input.get();
    start.output = output_->out.write();
    start.errors = output_->err.write();
    // A test that dies (a crash, an abort) takes its program with it, instead of leaving it
    // running with its port open.
    start.endsWithStarter = true;
    const platform::StartedProgram child = platform::StartProgram(start);
    if (!child.error.ok()) {
        throw std::runtime_error("cannot start " + options.program + ": " + child.error.text());
    }
    pid_ = child.pid;
    output_->out.CloseWrite();
    output_->err.CloseWrite();
    output_->reader = std::thread([output = output_.get()] { output->Read(); });
}

ChildProcess::~ChildProcess() {
    if (!exitCode_) {
        kill(pid_, SIGKILL);
        platform::WaitForExit(pid_);
    }
    const char stop = 1;
    [[maybe_unused]] const ssize_t ignored = write(output_->stop.write(), &stop, 1);
    output_->reader.join();
}

bool ChildProcess::Signal(int signal) {
    return !exitCode_ && kill(pid_, signal) == 0;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    WaitUntil(
        [this] {
            if (exitCode_) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) exitCode_ = platform::ExitStatusOf(status);
            return exitCode_.has_value();
        },
        timeout);
    // Once the child has ended, what it wrote is collected in full before the caller reads it.
    if (exitCode_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        output_->WaitUntilFinished(std::max(left, std::chrono::milliseconds(0)));
    }
    return exitCode_;
}

std::string ChildProcess::Stdout() const {
    std::lock_guard lock(output_->mutex);
    return output_->stdoutText;
}

std::string ChildProcess::Stderr() const {
    std::lock_guard lock(output_->mutex);
    return output_->stderrText;
}

bool ChildProcess::WaitForStdout(std::string_view text, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return Stdout().find(text) != std::string::npos; }, timeout);
}

}  // namespace tillvane::testing
