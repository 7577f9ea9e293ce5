#include "config/key_check.h"

#include <algorithm>
#include <numeric>
#include <set>

#include "base/text_split.h"
#include "config/ini_loader.h"

namespace tillvane {

namespace {

constexpr char kCommentStart = ';';
constexpr char kSectionStart = '[';
constexpr char kSectionEnd = ']';

bool IsNoKey(std::string_view key) {
    return key.empty() || key.front() == kCommentStart ||
           (key.front() == kSectionStart && key.back() == kSectionEnd);
}

bool IsAmong(std::string_view key, std::span<const std::string_view> keys) {
    return std::any_of(keys.begin(), keys.end(),
                       [key](std::string_view known) { return EqualsIgnoringCase(key, known); });
}

}  // namespace

std::size_t KeyDistance(std::string_view a, std::string_view b) {
    const std::string x = ToLowerAscii(a);
    const std::string y = ToLowerAscii(b);
    // Three rows of the edit table: the one before last, the last and the one being filled.
    std::vector<std::size_t> twoBack(y.size() + 1);
    std::vector<std::size_t> previous(y.size() + 1);
    std::vector<std::size_t> current(y.size() + 1);
    std::iota(previous.begin(), previous.end(), std::size_t{0});
    for (std::size_t i = 1; i <= x.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t change = x[i - 1] == y[j - 1] ? 0 : 1;
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + change});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
                current[j] = std::min(current[j], twoBack[j - 2] + 1);
            }
        }
        std::swap(twoBack, previous);
        std::swap(previous, current);
    }
    return previous[y.size()];
}

std::string_view NearestKey(std::string_view key, std::span<const std::string_view> candidates,
                            std::size_t maxDistance) {
    std::string_view nearest;
    std::size_t best = maxDistance + 1;
    for (const std::string_view candidate : candidates) {
        // The lengths alone tell a key too far off: long lines of text cost no table.
        const std::size_t lengthGap = key.size() > candidate.size() ? key.size() - candidate.size()
                                                                    : candidate.size() - key.size();
        if (lengthGap > maxDistance) continue;
        const std::size_t distance = KeyDistance(key, candidate);
        if (distance < best) {
            best = distance;
            nearest = candidate;
        }
    }
    return nearest;
}

std::vector<UnknownKey> UnknownKeys(const INILoader& configuration,
                                    std::span<const std::string_view> knownKeys) {
    std::vector<UnknownKey> unknown;
    // Folded: a file of many lines is checked in n log n, not n squared.
    std::set<std::string> seen;
    for (const INIEntry& entry : configuration.entries()) {
        if (IsNoKey(entry.key) || IsAmong(entry.key, knownKeys)) continue;
        if (!seen.insert(ToLowerAscii(entry.key)).second) continue;
        unknown.push_back({entry.key, NearestKey(entry.key, knownKeys, kMaxSuggestionDistance)});
    }
    return unknown;
}

}  // namespace tillvane
