#pragma once
// The register log: diagnostic lines of the driver host and the active driver, one file.
// Each entry is a line break, the local time as "%Y%m%d %H:%M:%S->" and the message; the
// file is opened for each entry and closed again, so it can be read or moved at any time.

#include <string>
#include <string_view>

namespace tillvane {

inline constexpr std::size_t kMaxLogPathLength = 2047;

class RegisterLog {
  public:
    // An empty path turns the log off.
    void SetPath(std::string_view path);
    const std::string& path() const { return path_; }
    bool enabled() const { return !path_.empty(); }

    void Write(std::string_view message) const;

  private:
    std::string path_;
};

}  // namespace tillvane
