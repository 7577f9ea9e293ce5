#include "tests/support/temp_dir.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <stdlib.h>

namespace tillvane::testing {

namespace {
// Test folders live under the build tree: files under /tmp have been seen disappearing.
std::filesystem::path TestRoot() {
    std::filesystem::path root = std::filesystem::path(TILLVANE_BINARY_DIR) / "test-tmp";
    std::filesystem::create_directories(root);
    return root;
}
}  // namespace

TempDir::TempDir() {
    std::string pattern = (TestRoot() / "t-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
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
