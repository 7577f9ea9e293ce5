#include "platform/posix/start_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/unique_fd.h"

extern char** environ;

namespace tillvane::platform {

namespace {

// The exit status of a child that failed before or at exec, as a shell gives it.
constexpr int kCannotExecuteStatus = 127;
constexpr int kSignalStatusBase = 128;

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child, between fork and exec: async-signal-safe calls only. Returns only on failure,
// with errno set.
void SetUpAndExec(const ProgramStart& start, pid_t starter, char* const* argv,
                  char* const* environment) {
    if (start.endsWithStarter) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The starter may have ended before the request took effect.
        if (getppid() != starter) _exit(kCannotExecuteStatus);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int signal : {SIGTERM, SIGINT, SIGPIPE, SIGHUP}) ::signal(signal, SIG_DFL);
    const int streams[] = {start.input, start.output, start.errors};
    for (int target = STDIN_FILENO; target <= STDERR_FILENO; ++target) {
        if (streams[target] >= 0 && dup2(streams[target], target) < 0) return;
    }
    if (!start.workingDirectory.empty() && chdir(start.workingDirectory.c_str()) != 0) return;
    execvpe(argv[0], argv, environment);
}

}  // namespace

StartedProgram StartProgram(const ProgramStart& start) {
    StartedProgram started;
    if (start.arguments.empty()) {
        started.error = SystemError(EINVAL);
        return started;
    }
    std::vector<std::string> arguments = start.arguments;
    std::vector<std::string> environment = start.environment.value_or(std::vector<std::string>());
    const std::vector<char*> argv = Pointers(arguments);
    const std::vector<char*> environmentPointers = Pointers(environment);
    char* const* envp = start.environment ? environmentPointers.data() : environ;
    // Carries errno when the child fails before exec or at it; a successful exec closes it.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        started.error = LastSystemError();
        return started;
    }
    UniqueFd failureRead(ends[0]);
    UniqueFd failureWrite(ends[1]);
    const pid_t starter = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        started.error = LastSystemError().Within("fork");
        return started;
    }
    if (pid == 0) {
        SetUpAndExec(start, starter, argv.data(), envp);
        const int error = errno;
        [[maybe_unused]] const ssize_t ignored = write(failureWrite.get(), &error, sizeof error);
        _exit(kCannotExecuteStatus);
    }
    failureWrite.Reset();
    int error = 0;
    ssize_t got = 0;
    do {
        got = read(failureRead.get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof error)) {
        WaitForExit(pid);
        started.error = SystemError(error);
        return started;
    }
    started.pid = pid;
    return started;
}

int ExitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return kSignalStatusBase + WTERMSIG(waitStatus);
    return -1;
}

int WaitForExit(pid_t pid) {
    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return ExitStatusOf(waitStatus);
}

}  // namespace tillvane::platform
