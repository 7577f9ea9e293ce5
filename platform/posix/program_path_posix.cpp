#include "platform/program_path.h"

#include <unistd.h>

#include <system_error>
#include <vector>

namespace tillvane::platform {

std::string ProgramPath() {
    std::vector<char> buffer(kMaxProgramPathLength + 1);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    // A path that fills the whole buffer may have been cut: a cut path names another file.
    if (length <= 0 || static_cast<std::size_t>(length) > kMaxProgramPathLength) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::string DirectoryOf(const std::string& programPath) {
    const std::size_t slash = programPath.find_last_of('/');
    if (slash == std::string::npos) return programPath;
    if (slash == 0) return "/";
    return programPath.substr(0, slash);
}

const char* PathSeparator() {
    return "/";
}

bool SetWorkingDirectory(const std::string& directory) {
    return chdir(directory.c_str()) == 0;
}

}  // namespace tillvane::platform
