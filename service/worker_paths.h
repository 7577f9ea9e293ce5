#pragma once
// Where the service worker runs and which files it hands on: all beside the program file.

#include <string>

namespace tillvane {

inline constexpr const char* kRegisterLogFileName = "_Tillvane_se.log";

struct WorkerPaths {
    std::string directory;        // the program's folder, the working directory
    std::string configPath;       // named after the program (see AppFilePath)
    std::string registerLogPath;  // the folder followed by "_Tillvane_se.log"
};

// The paths for the program file at `programPath`, whatever the program file is called.
WorkerPaths WorkerPathsFor(const std::string& programPath);

}  // namespace tillvane
