#include "base/numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "tests/support/result_value.h"

namespace tillvane {
namespace {

TEST(ParseDecimalInt, ReadsLikeAtoiAndSaturates) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"42", 42},
        {"  -7x", -7},
        {"+3", 3},
        {"\t\n12", 12},
        {"1 2", 1},
        {"abc", 0},
        {"", 0},
        {"- 3", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDecimalInt(c.text), c.expected) << c.text;
}

// Prices, quantities and amounts: a plain decimal number or nothing at all; anything else
// would be a guess at the figure the till meant.
TEST(ParsePlainDecimal, AcceptsOnlyPlainNumbersWithinTheBound) {
    const struct {
        const char* text;
        std::optional<double> expected;
    } cases[] = {
        {"", 0.0},
        {"   ", 0.0},
        {"2.50", 2.5},
        {" -3 ", -3.0},
        {"+1.5", 1.5},
        {".5", 0.5},
        {"5.", 5.0},
        {"\t7\t", 7.0},
        {"1000000000", 1e9},
        {"-1000000000", -1e9},
        {"2,50", {}},
        {"abc", {}},
        {"nan", {}},
        {"inf", {}},
        {"1e308", {}},
        {"1e2", {}},
        {"0x10", {}},
        {"1000000000.01", {}},
        {"-", {}},
        {".", {}},
        {"1.2.3", {}},
        {"+-1", {}},
        {"1 2", {}},
        {"2.5x", {}},
        {"12345678901234567890", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(testing::ValueOrNone(ParsePlainDecimal(c.text)), c.expected) << c.text;
    for (const char* zero : {"-0", "-0.00", "+0", "-.0"}) {
        const Result<double> value = ParsePlainDecimal(zero);
        ASSERT_TRUE(value) << zero;
        EXPECT_FALSE(std::signbit(*value)) << zero << " would print as -0.00";
    }
}

// Payment types and counts of the configuration: a plain whole number or nothing at all.
TEST(ParsePlainInt, AcceptsOnlyPlainWholeNumbers) {
    const std::pair<const char*, int> accepted[] = {{"", 0},
                                                    {"  ", 0},
                                                    {" 4\t", 4},
                                                    {"+3", 3},
                                                    {"-1", -1},
                                                    {"007", 7},
                                                    {"-2147483648", INT_MIN}};
    for (const auto& [text, value] : accepted)
        EXPECT_EQ(testing::ValueOrNone(ParsePlainInt(text)), value) << text;
    for (const char* text :
         {"2147483648", "2x", "abc", "1.5", "1e3", "0x10", "-", "+-1", "1 2", "\n1"}) {
        EXPECT_FALSE(ParsePlainInt(text)) << text;
    }
}

TEST(ParseDecimalDouble, ReadsLikeAtofButRefusesInfinityAndNan) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {" 2.50abc", 2.5}, {"abc", 0.0},       {"1e2", 100.0}, {"-3", -3.0},   {".5", 0.5},
        {"+1", 1.0},       {"12.5.3", 12.5},   {"1e", 1.0},    {"+-1", 0.0},   {"", 0.0},
        {"inf", 0.0},      {"-infinity", 0.0}, {"nan", 0.0},   {"1e999", 0.0}, {"0x10", 0.0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDecimalDouble(c.text), c.expected) << c.text;
}

TEST(FormatFixed, MatchesPrintfInTheCLocale) {
    const double values[] = {0.0,   2.5,     12.5 * 100,    0.125, -0.001, 10.004, 1.005,
                             9.995, -12.345, 123456789.987, 1e20,  0.5,    1.5,    2.675};
    for (const double value : values) {
        for (const int decimals : {0, 2, 3}) {
            char expected[128];
            std::snprintf(expected, sizeof expected, "%0.*f", decimals, value);
            EXPECT_EQ(FormatFixed(value, decimals), expected) << value << " " << decimals;
        }
    }
}

TEST(FormatFixed, LargestDoubleFits) {
    EXPECT_EQ(FormatFixed(1.7976931348623157e308, 2).size(), 309u + 3u);
}

}  // namespace
}  // namespace tillvane
