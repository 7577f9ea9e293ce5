#pragma once
// What the simulated printer would have printed, one line per command, flushed at once so
// that tests and people can read it while the simulator runs.

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace tillvane::simulator {

class Journal {
  public:
    // An empty path keeps no journal; "-" writes to standard output.
    bool Open(const std::string& path);
    void Write(std::string_view line);

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const {
            if (file != stdout) std::fclose(file);
        }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
};

}  // namespace tillvane::simulator
