#include "app/app_log.h"

#include <fstream>

namespace tillvane {

namespace {

constexpr int kFirstYear = 1900;

std::string EntryText(const platform::LocalTime& time, std::string_view text) {
    const std::tm& t = time.tm;
    std::string entry = "\n";
    entry += std::to_string(t.tm_year + kFirstYear) + "-" + std::to_string(t.tm_mon + 1) + "-" +
             std::to_string(t.tm_mday) + " " + std::to_string(t.tm_hour) + ":" +
             std::to_string(t.tm_min) + ":" + std::to_string(t.tm_sec) + " - ";
    entry += text;
    return entry;
}

}  // namespace

std::string FormatLogEntry(const platform::LocalTime& time, std::string_view text) {
    std::string entry = EntryText(time, text);
#ifdef _WIN32
    // What a text-mode stream would store there: every "\n" as CR LF.
    std::string stored;
    stored.reserve(entry.size() + 8);
    for (const char c : entry) {
        if (c == '\n') stored += '\r';
        stored += c;
    }
    entry = std::move(stored);
#endif
    return entry;
}

bool AppendLogEntry(const std::string& path, std::string_view text) {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    if (!file) return false;
    const std::string entry = FormatLogEntry(platform::NowLocal(), text);
    file.write(entry.data(), static_cast<std::streamsize>(entry.size()));
    return static_cast<bool>(file);
}

bool AppendRequestLogEntry(const std::string& path, std::string_view text) {
    if (!std::ifstream(path, std::ios::binary)) {
        std::ofstream created(path, std::ios::binary | std::ios::app);
        created.write(kRequestLogByteOrderMark.data(),
                      static_cast<std::streamsize>(kRequestLogByteOrderMark.size()));
    }
    return AppendLogEntry(path, text);
}

}  // namespace tillvane
