#include "platform/posix/run_command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/unique_fd.h"

extern char** environ;

namespace tillvane::platform {

namespace {

inline constexpr std::size_t kOutputChunkSize = 4096;

// Exit status the shell would show: the exit code, or 128 plus the ending signal.
int ExitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

class SpawnFileActions {
  public:
    SpawnFileActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

// The helper starts with no signal blocked, whatever the calling thread has blocked.
class SpawnAttributes {
  public:
    SpawnAttributes() {
        posix_spawnattr_init(&attributes_);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return &attributes_; }

  private:
    posix_spawnattr_t attributes_;
};

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& arguments) {
    CommandResult result;
    if (arguments.empty()) {
        result.errorCode = EINVAL;
        return result;
    }
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        result.errorCode = errno;
        return result;
    }
    UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);

    SpawnFileActions actions;
    SpawnAttributes attributes;
    posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (const int error =
            posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ);
        error != 0) {
        result.errorCode = error;
        return result;
    }
    result.started = true;
    writeEnd.Reset();

    char chunk[kOutputChunkSize];
    for (;;) {
        const ssize_t got = read(readEnd.get(), chunk, sizeof chunk);
        if (got > 0) {
            result.output.append(chunk, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, 0) < 0) {
        if (errno != EINTR) return result;
    }
    result.exitStatus = ExitStatusOf(waitStatus);
    return result;
}

}  // namespace tillvane::platform
