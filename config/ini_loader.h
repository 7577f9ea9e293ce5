#pragma once
// Reader of the key=value configuration file that sits beside the program.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace tillvane {

inline constexpr std::size_t kMaxConfigKeyLength = 254;
inline constexpr std::size_t kMaxConfigValueLength = 1024;

struct INIEntry {
    std::string key;  // without the blanks and tabs around it
    std::string value;
};

class INILoader {
  public:
    // Reads the file at `path` and replaces the entries with its own. Fails when the file
    // cannot be found or opened, or its bytes are no text (see DecodeConfigText); the entries
    // loaded before then stay as they were.
    platform::Error Load(const std::string& path);

    // Copies the value of the first entry whose key equals `key` (ASCII case ignored) into
    // `destination`. False, with `destination` empty, when there is no such entry.
    bool GetValue(std::string& destination, std::string_view key) const;

    const std::vector<INIEntry>& entries() const { return entries_; }

  private:
    std::vector<INIEntry> entries_;
};

// Size in bytes of the file at `path`, or -1 when it cannot be found or examined.
std::int32_t QueryFileSize(const std::string& path);

}  // namespace tillvane
