#include "tests/support/temp_dir.h"

#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tillvane::testing {

namespace {
constexpr int kMaxNameAttempts = 100;
constexpr std::uint64_t kNameRange = 1'000'000'000;
// Test folders live under the build tree: files under /tmp have been seen disappearing.
std::filesystem::path TestRoot() {
    std::filesystem::path root = std::filesystem::path(TILLVANE_BINARY_DIR) / "test-tmp";
    std::filesystem::create_directories(root);
    return root;
}
}  // namespace

TempDir::TempDir() {
    // A folder that did not exist before: create_directory tells whether it made it.
    static std::mt19937_64 names{std::random_device{}()};
    static std::mutex namesMutex;
    const std::filesystem::path root = TestRoot();
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        std::uint64_t number = 0;
        {
            std::lock_guard lock(namesMutex);
            number = names();
        }
        std::filesystem::path candidate = root / ("t-" + std::to_string(number % kNameRange));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no fresh test folder could be made");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace tillvane::testing
