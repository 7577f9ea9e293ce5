#pragma once
// The application log and the request log of the web front end. Each entry opens the file,
// appends "\n%d-%d-%d %d:%d:%d - %s" (local date and time without leading zeros, then the
// text) and closes it again, so the files can be read or moved while the service runs.

#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tillvane {

// The UTF-8 byte-order mark that opens a new request log.
inline constexpr std::string_view kRequestLogByteOrderMark = "\xEF\xBB\xBF";

// One entry as it is stored: Windows keeps its text files with CR LF line breaks, Linux with LF.
std::string FormatLogEntry(const platform::LocalTime& time, std::string_view text);

// Appends an entry with the current local time. False when the file cannot be opened.
bool AppendLogEntry(const std::string& path, std::string_view text);

// Creates the request log with the byte-order mark when it does not exist yet, then appends
// an entry as AppendLogEntry does.
bool AppendRequestLogEntry(const std::string& path, std::string_view text);

}  // namespace tillvane
