#include "app/app_log.h"

#include <fstream>

#include "app/log_rotation.h"
#include "base/control_bytes.h"
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
    // Every entry of both logs passes here: nothing a client sent can break its line.
    entry += EscapeControlBytes(text);
    return entry;
}

}  // namespace

std::string FormatLogEntry(const platform::LocalTime& time, std::string_view text) {
    return platform::WithSystemLineBreaks(EntryText(time, text));
}

bool AppendLogEntry(const std::string& path, std::string_view text) {
    const std::string entry = EntryText(platform::NowLocal(), text);
    RotateLogWhenFull(path, entry.size());
    return platform::AppendLogText(path, entry);
}

bool AppendRequestLogEntry(const std::string& path, std::string_view text) {
    const std::string entry = EntryText(platform::NowLocal(), text);
    // Moved aside first, so that the new file opens with its byte-order mark too.
    RotateLogWhenFull(path, entry.size());
    if (!std::ifstream(path, std::ios::binary)) {
        std::ofstream created(path, std::ios::binary | std::ios::app);
        created.write(kRequestLogByteOrderMark.data(),
                      static_cast<std::streamsize>(kRequestLogByteOrderMark.size()));
    }
    return platform::AppendLogText(path, entry);
}

}  // namespace tillvane
