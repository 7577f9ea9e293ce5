// Base64 as command texts arrive in it.

#include <gtest/gtest.h>

#include <string>

#include "base/base64.h"

namespace tillvane {
namespace {

TEST(Base64DecodeTest, DecodesUpToTheFirstEqualsSignAndRefusesForeignCharacters) {
    struct Case {
        std::string text;
        std::string decoded;
        std::size_t invalidPosition;  // 0: the text is valid
    };
    const Case cases[] = {
        {"QlM=", "BS", 0},
        {"QlM", "BS", 0},  // no closing "=" needed
        {"QlN8RVM=", "BS|ES", 0},
        {"QlM=RVM", "BS", 0},  // everything after "=" is ignored
        {"Q", "", 0},          // a single character gives nothing
        {"", "", 0},
        {"QlN8\r\nRVM=\n", "BS|ES", 0},  // a wrapped text
        {"\tQl\nN8RV\r\rM", "BS|ES", 0},
        {"+/8A/w==", std::string("\xFB\xFF\x00\xFF", 4), 0},  // binary bytes, a 0 among them
        {" /8A/w==", std::string("\xFB\xFF\x00\xFF", 4), 0},  // a blank is a "+"
        {"////", "\xFF\xFF\xFF", 0},
        {"QUJDRA", "ABCD", 0},
        {"QUJDREU", "ABCDE", 0},
        {"QlN8*RVM=", "", 5},
        {"QlM=!", "", 5},  // a foreign character after the "=" still counts
        {"!!!!", "", 1},
        {"QlN8\vRVM=", "", 5},    // only line breaks and tabs are skipped
        {"\xC3\xA9QUJD", "", 1},  // a byte above 127 is foreign
    };
    for (const Case& c : cases) {
        const Result<std::string> decoded = Base64Decode(c.text);
        EXPECT_EQ(decoded.ok(), c.invalidPosition == 0) << c.text;
        EXPECT_EQ(decoded.ok() ? decoded.value() : "", c.decoded) << c.text;
        EXPECT_EQ(decoded.ok() ? 0 : decoded.error().code(), static_cast<int>(c.invalidPosition))
            << c.text;
    }
}

}  // namespace
}  // namespace tillvane
