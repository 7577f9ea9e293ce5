#include "service/worker_paths.h"

#include "platform/program_path.h"

namespace tillvane {

WorkerPaths WorkerPathsFor(const std::string& programPath) {
    WorkerPaths paths;
    paths.directory = platform::DirectoryOf(programPath);
    // The root folder already ends in the separator.
    std::string prefix = paths.directory;
    const std::string separator = platform::PathSeparator();
    if (prefix.size() < separator.size() ||
        prefix.compare(prefix.size() - separator.size(), separator.size(), separator) != 0) {
        prefix += separator;
    }
    paths.configPath = prefix + kConfigFileName;
    paths.registerLogPath = prefix + kRegisterLogFileName;
    return paths;
}

}  // namespace tillvane
