#include "registers/register_log.h"

#include <cstdio>
#include <memory>

#include "platform/clock.h"

namespace tillvane {

namespace {

constexpr const char* kEntryTimeFormat = "%Y%m%d %H:%M:%S->";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

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
    // Text mode: the line break becomes CR LF where the system writes line ends that way.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path_.c_str(), "a"));
    if (!file) return;  // the entry is lost; the operation goes on
    std::string entry = "\n";
    entry += platform::FormatLocalTime(platform::NowLocal(), kEntryTimeFormat);
    entry += message;
    std::fwrite(entry.data(), 1, entry.size(), file.get());
}

}  // namespace tillvane
