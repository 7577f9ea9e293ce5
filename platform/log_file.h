#pragma once
// The one way a log entry reaches its file, shared by the application log, the request log
// and the register log: the file is opened for each entry and closed again, so that it can be
// read or moved while the service runs, and each line break is stored as the system keeps it
// in its text files (CR LF on Windows, LF elsewhere).

#include <string>
#include <string_view>

namespace tillvane::platform {

// `text` as it is stored: every "\n" as the system's line break.
std::string WithSystemLineBreaks(std::string_view text);

// Appends `entry`, stored as WithSystemLineBreaks makes it, to the file at `path`, which is
// created when missing. False when the file cannot be opened or written.
bool AppendLogText(const std::string& path, std::string_view entry);

}  // namespace tillvane::platform
