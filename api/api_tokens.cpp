#include "api/api_tokens.h"

#include <algorithm>

#include "base/text_split.h"

namespace tillvane {

namespace {

constexpr std::string_view kEntrySeparators = ", \t";
constexpr std::string_view kBlanks = " \t";
constexpr char kNameSeparator = ':';

bool IsTillName(std::string_view name) {
    if (name.empty() || name.size() > kMaxTillNameLength) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

// Equal texts, in a time that depends on the length of `known` only.
bool SameSecret(std::string_view known, std::string_view presented) {
    unsigned difference = known.size() == presented.size() ? 0U : 1U;
    for (std::size_t i = 0; i < known.size(); ++i) {
        const char other = presented.empty() ? '\0' : presented[i % presented.size()];
        difference |= static_cast<unsigned char>(known[i] ^ other);
    }
    return difference == 0;
}

}  // namespace

platform::Error ApiTokens::Parse(std::string_view list) {
    entries_.clear();
    std::vector<Entry> entries;
    std::size_t place = 0;
    for (const std::string_view entry : SplitList(list, kEntrySeparators)) {
        const std::string where = "apiTokens entry " + std::to_string(++place);
        const std::size_t colon = entry.find(kNameSeparator);
        if (colon == std::string_view::npos) {
            return platform::Error::Message(where + " is not name:token");
        }
        const std::string_view name = entry.substr(0, colon);
        const std::string_view token = entry.substr(colon + 1);
        if (!IsTillName(name)) {
            return platform::Error::Message(where + ": a till's name is 1 to " +
                                            std::to_string(kMaxTillNameLength) +
                                            " of A-Z a-z 0-9 . _ -");
        }
        if (token.size() < kMinApiTokenLength) {
            return platform::Error::Message(where + " (" + std::string(name) +
                                            "): its token is shorter than " +
                                            std::to_string(kMinApiTokenLength) + " characters");
        }
        const bool repeated =
            std::any_of(entries.begin(), entries.end(),
                        [&](const Entry& earlier) { return earlier.token == token; });
        if (repeated) {
            return platform::Error::Message(where + " (" + std::string(name) +
                                            "): its token is an earlier entry's");
        }
        entries.push_back({std::string(name), std::string(token)});
    }
    if (entries.empty() && list.find_first_not_of(kBlanks) != std::string_view::npos) {
        return platform::Error::Message("apiTokens holds no name:token entry");
    }
    entries_ = std::move(entries);
    return {};
}

std::optional<std::string> ApiTokens::TillOf(std::string_view presented) const {
    const Entry* match = nullptr;
    for (const Entry& entry : entries_) {
        if (SameSecret(entry.token, presented)) match = &entry;
    }
    if (match == nullptr) return std::nullopt;
    return match->till;
}

}  // namespace tillvane
