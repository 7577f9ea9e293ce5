#include "app/app_log.h"

#include <fstream>

#include "platform/log_file.h"

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
    return platform::WithSystemLineBreaks(EntryText(time, text));
}

bool AppendLogEntry(const std::string& path, std::string_view text) {
    return platform::AppendLogText(path, EntryText(platform::NowLocal(), text));
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
