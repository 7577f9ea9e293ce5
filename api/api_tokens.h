#pragma once
// Tokens per till (apiTokens): which till a request comes from, by the token it presents.
// Written as "name:token" pairs separated by commas or blanks ("front-1:9f2c... back:77ab...").

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace tillvane {

// A till's name: 1 to this many of A-Z a-z 0-9 . _ -
inline constexpr std::size_t kMaxTillNameLength = 32;
// A shorter token could be guessed by trying.
inline constexpr std::size_t kMinApiTokenLength = 16;

class ApiTokens {
  public:
    // Reads the list. Fails, saying what is wrong, when an entry does not parse or when the
    // list holds separators but no entry; the list is left empty then. The failure
    // names an entry by its place and its till's name, never by its token: the log that
    // receives it is no place for one.
    platform::Error Parse(std::string_view list);
    // True when no tokens are set: nobody needs one.
    bool empty() const { return entries_.empty(); }
    // The name of the till whose token `presented` is; nothing when it is no till's. Every
    // token is compared whole, whatever matches, so the time taken tells nothing of them.
    std::optional<std::string> TillOf(std::string_view presented) const;

  private:
    struct Entry {
        std::string till;
        std::string token;
    };
    std::vector<Entry> entries_;
};

}  // namespace tillvane
