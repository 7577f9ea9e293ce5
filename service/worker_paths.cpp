#include "service/worker_paths.h"

#include "app/app_files.h"
#include "platform/program_path.h"

namespace tillvane {

WorkerPaths WorkerPathsFor(const std::string& programPath, std::string_view instance) {
    WorkerPaths paths;
    paths.directory = platform::DirectoryOf(programPath);
    // The root folder already ends in the separator.
    std::string prefix = paths.directory;
    const std::string separator = platform::PathSeparator();
    if (prefix.size() < separator.size() ||
        prefix.compare(prefix.size() - separator.size(), separator.size(), separator) != 0) {
        prefix += separator;
    }
    // Named as the web server names it, so that the driver and the server read one file.
    paths.configPath = AppFilePath(programPath, AppFile::configuration, instance);
    paths.registerLogPath =
        prefix + kRegisterLogStem + InstanceFileSuffix(instance) + kRegisterLogExtension;
    return paths;
}

}  // namespace tillvane
