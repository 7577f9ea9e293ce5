#include "platform/program_path.h"

#include <vector>

#include "platform/win32/windows_api.h"

namespace tillvane::platform {

std::string ProgramPath() {
    std::vector<char> buffer(kMaxProgramPathLength + 1);
    const DWORD length =
        ::GetModuleFileNameA(/*hModule=*/nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    // A path that fills the whole buffer has been cut: a cut path names another file.
    if (length == 0 || length > kMaxProgramPathLength) {
        if (length != 0) ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return {};
    }
    return std::string(buffer.data(), length);
}

std::string DirectoryOf(const std::string& programPath) {
    const std::size_t separator = programPath.find_last_of("\\/");
    if (separator == std::string::npos) return programPath;
    // "C:\" keeps its separator: "C:" alone is the drive's current folder.
    if (separator == 2 && programPath[1] == ':') return programPath.substr(0, 3);
    return programPath.substr(0, separator);
}

const char* PathSeparator() {
    return "\\";
}

bool SetWorkingDirectory(const std::string& directory) {
    return ::SetCurrentDirectoryA(directory.c_str()) != FALSE;
}

}  // namespace tillvane::platform
