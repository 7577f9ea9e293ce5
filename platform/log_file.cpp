#include "platform/log_file.h"

#include <fstream>

namespace tillvane::platform {

std::string WithSystemLineBreaks(std::string_view text) {
#ifdef _WIN32
    // What a text-mode stream would store there: every "\n" as CR LF.
    std::string stored;
    stored.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        if (c == '\n') stored += '\r';
        stored += c;
    }
    return stored;
#else
    return std::string(text);
#endif
}

bool AppendLogText(const std::string& path, std::string_view entry) {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    if (!file) return false;
    const std::string stored = WithSystemLineBreaks(entry);
    file.write(stored.data(), static_cast<std::streamsize>(stored.size()));
    return static_cast<bool>(file);
}

}  // namespace tillvane::platform
