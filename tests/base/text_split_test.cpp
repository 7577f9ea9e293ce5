#include "base/text_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tillvane {
namespace {

using namespace std::string_literals;

std::vector<std::string> AllLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t position = 0;
    std::string line;
    while (NextLine(text, position, line)) lines.push_back(line);
    return lines;
}

std::vector<std::string> AllFields(std::string_view text, char separator = '^',
                                   std::size_t maxLength = 100) {
    std::vector<std::string> fields;
    std::size_t position = 0;
    std::string field;
    while (NextField(text, position, field, maxLength, separator)) fields.push_back(field);
    return fields;
}

struct SplitCase {
    std::string text;
    std::vector<std::string> expected;
};

TEST(NextLine, LineEndsAreCrLfOrCrLf) {
    const SplitCase cases[] = {
        {"a\r\nb", {"a", "b"}},
        {"a\r\n", {"a", ""}},
        {"", {""}},
        {"a\nb", {"a", "b"}},
        {"a\rb", {"a", "b"}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},  // LF then CR are two line ends
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\nb\r\nc\rd", {"a", "b", "c", "d"}},
        {"a\0b\r\nc"s, {"a"}},  // the text ends at its first NUL byte
        {"a\r\n\0b\r\nc"s, {"a", ""}},
        {"a\r\0\nb"s, {"a", ""}},
        {"x\ty \r\n", {"x\ty ", ""}},
    };
    for (const SplitCase& c : cases) EXPECT_EQ(AllLines(c.text), c.expected) << c.text;
}

TEST(NextLine, LengthLimitsKeepPositionOnRefusal) {
    struct LimitCase {
        std::string text;
        bool accepted;
    };
    const LimitCase cases[] = {
        {std::string(1024, 'k') + "\r\n", true},
        {std::string(1025, 'k') + "\r\n", false},
        {std::string(1024, 'k') + "\n", true},
        {std::string(1023, 'k'), true},  // the end of the text counts as one character
        {std::string(1024, 'k'), false},
    };
    for (const LimitCase& c : cases) {
        std::size_t position = 0;
        std::string line = "stale";
        EXPECT_EQ(NextLine(c.text, position, line), c.accepted) << c.text.size();
        if (!c.accepted) {
            EXPECT_EQ(position, 0u);
            EXPECT_EQ(line, "");
        }
    }
}

TEST(NextLine, PositionPastTheEndReturnsFalse) {
    std::size_t position = 7;
    std::string line = "stale";
    EXPECT_FALSE(NextLine("abc", position, line));
    EXPECT_EQ(position, 7u);
    EXPECT_EQ(line, "");
}

TEST(NextField, SplitsAtSeparatorAndSkipsLeadingBlanks) {
    const SplitCase cases[] = {
        {"A^B", {"A", "B"}},
        {"A^", {"A"}},
        {"A^^B", {"A", "", "B"}},
        {"^A", {"", "A"}},
        {" A ^ B", {"A ", "B"}},
        {"\tA", {"\tA"}},  // only 0x20 is a blank
        {"   ", {}},
        {"", {}},
        {"A^B\0^C"s, {"A", "B"}},
        {"A^\0B^C"s, {"A"}},
        {"A^  \0B^C"s, {"A"}},
        {"A^B^\0"s, {"A", "B"}},
    };
    for (const SplitCase& c : cases) EXPECT_EQ(AllFields(c.text), c.expected) << c.text;
}

TEST(NextField, BlanksToTheEndMovePositionToTheEnd) {
    std::size_t position = 2;
    std::string field;
    EXPECT_FALSE(NextField("A^   ", position, field, 10, '^'));
    EXPECT_EQ(position, 5u);
}

TEST(NextField, FieldBoundIsInclusiveAndRefusalKeepsPosition) {
    EXPECT_EQ(AllFields("abc^d", '^', 3), (std::vector<std::string>{"abc", "d"}));
    std::size_t position = 4;
    std::string field = "stale";
    EXPECT_FALSE(NextField("abc^  abcd^e", position, field, 3, '^'));
    EXPECT_EQ(position, 4u);  // where the caller left it, blanks not skipped
    EXPECT_EQ(field, "");
}

TEST(UpperAscii, FoldsOnlyAsciiLetters) {
    std::string text = "az AZ 09 \xe9\xff{`";
    EXPECT_EQ(UpperAscii(text), 13);
    EXPECT_EQ(text, "AZ AZ 09 \xe9\xff{`");
    EXPECT_EQ(ToUpperAscii("selltext"), "SELLTEXT");
}

}  // namespace
}  // namespace tillvane
