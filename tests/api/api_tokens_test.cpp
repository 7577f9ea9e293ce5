// apiTokens as an owner writes it: which lists open the service, what the log is told of a
// list that does not read (never a token), and which till each token names.

#include "api/api_tokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tillvane {
namespace {

TEST(ApiTokensTest, ReadsNameTokenPairsOrNamesTheFaultWithoutItsToken) {
    struct Case {
        const char* list;
        std::string fault;  // empty: the list reads
    };
    const std::vector<Case> cases = {
        {"", ""},
        {" \t ", ""},
        {"front:0123456789abcdef", ""},
        {"front:0123456789abcdef, back:fedcba9876543210", ""},
        {"a.b_c-D9:0123456789abcdef\tx:fedcba9876543210:more", ""},
        {"front:0123456789abcde",
         "apiTokens entry 1 (front): its token is shorter than 16 characters"},
        {"front:0123456789abcdef back0123456789abcdef", "apiTokens entry 2 is not name:token"},
        {":0123456789abcdef", "apiTokens entry 1: a till's name is 1 to 32 of A-Z a-z 0-9 . _ -"},
        {"front desk:0123456789abcdef", "apiTokens entry 1 is not name:token"},
        {"till/1:0123456789abcdef",
         "apiTokens entry 1: a till's name is 1 to 32 of A-Z a-z 0-9 . _ -"},
        {"abcdefghijabcdefghijabcdefghijab:0123456789abcdef", ""},
        {"abcdefghijabcdefghijabcdefghijabc:0123456789abcdef",
         "apiTokens entry 1: a till's name is 1 to 32 of A-Z a-z 0-9 . _ -"},
        {"front:0123456789abcdef back:0123456789abcdef",
         "apiTokens entry 2 (back): its token is an earlier entry's"},
        {",", "apiTokens holds no name:token entry"},
    };
    for (const Case& c : cases) {
        ApiTokens tokens;
        ASSERT_TRUE(tokens.Parse("earlier:0000000000000000").ok());
        const platform::Error fault = tokens.Parse(c.list);
        EXPECT_EQ(fault.ok(), c.fault.empty()) << c.list;
        EXPECT_EQ(fault.text(), c.fault) << c.list;
        // A list that does not read leaves no token of an earlier one either.
        EXPECT_EQ(tokens.TillOf("0000000000000000"), std::nullopt) << c.list;
    }
}

TEST(ApiTokensTest, EachTokenNamesItsTillAndNothingElseDoes) {
    ApiTokens tokens;
    ASSERT_TRUE(tokens.Parse("front:0123456789abcdef back:fedcba9876543210:x").ok());
    EXPECT_EQ(tokens.TillOf("0123456789abcdef"), "front");
    EXPECT_EQ(tokens.TillOf("fedcba9876543210:x"), "back");
    for (const char* other : {"", "0123456789abcde", "0123456789abcdef0", "0123456789ABCDEF",
                              "front", "fedcba9876543210"}) {
        EXPECT_EQ(tokens.TillOf(other), std::nullopt) << other;
    }
}

}  // namespace
}  // namespace tillvane
