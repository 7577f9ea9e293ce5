#include "registers/register_log.h"

#include "platform/clock.h"
#include "platform/log_file.h"

namespace tillvane {

namespace {

constexpr const char* kEntryTimeFormat = "%Y%m%d %H:%M:%S->";

}  // namespace

void RegisterLog::SetPath(std::string_view path) {
    // A cut path would name another file, and a NUL byte would cut it in the system call:
    // such a path turns the log off instead.
    if (path.size() > kMaxLogPathLength || path.find('\0') != std::string_view::npos) {
        path_.clear();
        return;
    }
    path_.assign(path);
}

void RegisterLog::Write(std::string_view message) const {
    if (!enabled()) return;
    std::string entry = "\n";
    entry += platform::FormatLocalTime(platform::NowLocal(), kEntryTimeFormat);
    entry += message;
    // A lost entry does not stop the operation under way.
    platform::AppendLogText(path_, entry);
}

}  // namespace tillvane
