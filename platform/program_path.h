#pragma once
// Where the running program lives: the files it reads and writes sit beside it.

#include <string>

namespace tillvane::platform {

// Longest program path the service works with.
inline constexpr std::size_t kMaxProgramPathLength = 1024;

// Full path of the running program file; empty when the system cannot tell.
std::string ProgramPath();

// The folder part of `programPath`: everything before its last path separator, or the whole
// path when it has none.
std::string DirectoryOf(const std::string& programPath);

// The system's path separator as text ("/" on Linux, "\\" on Windows).
const char* PathSeparator();

// Makes `directory` the working directory; false when the system refuses.
bool SetWorkingDirectory(const std::string& directory);

}  // namespace tillvane::platform
