#include "tools/printer_simulator/journal.h"

namespace tillvane::simulator {

bool Journal::Open(const std::string& path) {
    file_.reset();
    if (path.empty()) return true;
    file_.reset(path == "-" ? stdout : std::fopen(path.c_str(), "a"));
    return file_ != nullptr;
}

void Journal::Write(std::string_view line) {
    if (!file_) return;
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fputc('\n', file_.get());
    std::fflush(file_.get());
}

}  // namespace tillvane::simulator
