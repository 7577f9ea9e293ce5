#include "base/text_split.h"

#include <algorithm>

namespace tillvane {

namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr char kBlank = ' ';
constexpr char kTextEnd = '\0';

bool IsLineEndOrTextEnd(char c) {
    return c == kCarriageReturn || c == kLineFeed || c == kTextEnd;
}

// True when a NUL byte ended the text just before `position`: the previous call stopped
// there. The splitters never look at the text before `position`, so that cutting a text into
// n pieces reads each byte once or twice, not n times.
bool PastTextEnd(std::string_view text, std::size_t position) {
    return position > text.size() || (position > 0 && text[position - 1] == kTextEnd);
}

}  // namespace

bool NextLine(std::string_view text, std::size_t& position, std::string& line) {
    line.clear();
    if (PastTextEnd(text, position)) return false;

    const auto begin = text.begin() + static_cast<std::ptrdiff_t>(position);
    const auto end = std::find_if(begin, text.end(), IsLineEndOrTextEnd);
    const std::size_t length = static_cast<std::size_t>(end - begin);
    const bool endedByText = end == text.end() || *end == kTextEnd;
    // The end of the text counts as one stored character, so the last line holds one less.
    if (length + (endedByText ? 1 : 0) > kMaxConfigLineLength) return false;

    line.assign(begin, end);
    position += length + 1;
    // An LF directly after a CR belongs to the same line end.
    if (!endedByText && *end == kCarriageReturn && position < text.size() &&
        text[position] == kLineFeed) {
        ++position;
    }
    return true;
}

bool NextField(std::string_view text, std::size_t& position, std::string& field,
               std::size_t maxLength, char separator) {
    field.clear();
    if (PastTextEnd(text, position) || position == text.size() || text[position] == kTextEnd) {
        return false;
    }

    std::size_t start = position;
    while (start < text.size() && text[start] == kBlank) ++start;
    if (start == text.size() || text[start] == kTextEnd) {
        position = start;
        return false;
    }

    const auto stopAt =
        std::find_if(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(),
                     [separator](char c) { return c == separator || c == kTextEnd; });
    const std::size_t stop = static_cast<std::size_t>(stopAt - text.begin());
    const std::size_t length = stop - start;
    if (length > maxLength) return false;

    field.assign(text.substr(start, length));
    // Past the separator, or one past the end of the text, so that the next call ends.
    position = stop + 1;
    return true;
}

char UpperAsciiLetter(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

char LowerAsciiLetter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int UpperAscii(std::string& text) {
    for (char& c : text) c = UpperAsciiLetter(c);
    return static_cast<int>(text.size());
}

std::string ToUpperAscii(std::string_view text) {
    std::string result(text);
    UpperAscii(result);
    return result;
}

std::vector<std::string_view> SplitList(std::string_view list, std::string_view separators) {
    std::vector<std::string_view> entries;
    std::size_t position = 0;
    while (position < list.size()) {
        const std::size_t start = list.find_first_not_of(separators, position);
        if (start == std::string_view::npos) break;
        position = std::min(list.find_first_of(separators, start), list.size());
        entries.push_back(list.substr(start, position - start));
    }
    return entries;
}

std::string ToLowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = LowerAsciiLetter(c);
    return result;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAsciiLetter(x) == LowerAsciiLetter(y);
           });
}

}  // namespace tillvane
