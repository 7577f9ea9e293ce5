#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace tillvane::fuzzing {

namespace {

class Scratch {
  public:
    Scratch()
        : path_(std::filesystem::temp_directory_path() /
                ("tillvane-fuzz-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& ScratchFolder() {
    static const Scratch scratch;
    return scratch.path();
}

void Violated(std::string_view what) {
    std::fprintf(stderr, "property violated: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

}  // namespace tillvane::fuzzing
