#pragma once
// A fresh folder for one test, removed with everything in it when the test ends.

#include <filesystem>
#include <string>

namespace tillvane::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Path of `name` inside the folder.
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Whole content of a file, bytes as they are; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Replaces the file's content with `bytes`.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace tillvane::testing
