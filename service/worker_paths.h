#pragma once
// Where the service worker runs and which files it hands on: all beside the program file.

#include <string>
#include <string_view>

namespace tillvane {

inline constexpr const char* kRegisterLogFileName = "_Tillvane_se.log";
// The register log's name without its extension: a named instance puts its suffix between.
inline constexpr const char* kRegisterLogStem = "_Tillvane_se";
inline constexpr const char* kRegisterLogExtension = ".log";

struct WorkerPaths {
    std::string directory;        // the program's folder, the working directory
    std::string configPath;       // named after the program (see AppFilePath)
    std::string registerLogPath;  // the folder followed by "_Tillvane_se.log"
};

// The paths for the program file at `programPath`, whatever the program file is called; a
// named `instance` has files of its own ("_Tillvane_se_front.log").
WorkerPaths WorkerPathsFor(const std::string& programPath, std::string_view instance = {});

}  // namespace tillvane
