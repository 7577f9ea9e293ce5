#include "platform/posix/run_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/start_program.h"
#include "platform/posix/unique_fd.h"

namespace tillvane::platform {

namespace {

inline constexpr std::size_t kOutputChunkSize = 4096;

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& arguments) {
    CommandResult result;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        result.errorCode = errno;
        return result;
    }
    UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);
    ProgramStart start;
    start.arguments = arguments;
    start.output = writeEnd.get();
    const StartedProgram child = StartProgram(start);
    if (!child.error.ok()) {
        result.errorCode = child.error.code();
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
    result.exitStatus = WaitForExit(child.pid);
    return result;
}

}  // namespace tillvane::platform
