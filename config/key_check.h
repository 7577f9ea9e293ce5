#pragma once
// The keys of a configuration file set against the keys the program reads: a key the program
// does not know is a typo or a setting of another program, and either way the administrator
// should hear of it, with the known key it most resembles.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tillvane {

class INILoader;

// Most edits (a letter added, dropped, changed, or two swapped) between an unknown key and
// the known key offered as what was meant.
inline constexpr std::size_t kMaxSuggestionDistance = 3;

struct UnknownKey {
    std::string key;           // as written
    std::string_view nearest;  // the nearest known key; empty when none is near
};

// Edits that turn `a` into `b`, ASCII case ignored (a swap of two neighbours is one edit).
std::size_t KeyDistance(std::string_view a, std::string_view b);

// The key of `candidates` nearest to `key` within `maxDistance` edits; empty when none is.
std::string_view NearestKey(std::string_view key, std::span<const std::string_view> candidates,
                            std::size_t maxDistance);

// The keys of `configuration` that are none of `knownKeys` (ASCII case ignored), once each, in
// file order. Comment lines (";" first), section lines ("[...]") and empty keys are no keys.
std::vector<UnknownKey> UnknownKeys(const INILoader& configuration,
                                    std::span<const std::string_view> knownKeys);

}  // namespace tillvane
