// The text decodings of requests: percent escapes, header parameters, multipart forms.

#include <gtest/gtest.h>

#include <string>

#include "http/form_decoding.h"

namespace tillvane {
namespace {

TEST(PercentDecodeTest, DecodesEscapesAndRefusesBrokenOnes) {
    struct Case {
        std::string text;
        bool plusIsSpace;
        bool valid;
        std::string decoded;
    };
    const Case cases[] = {
        {"a%20b%7c%7C", false, true, "a b||"},
        {"a+b", false, true, "a+b"},
        {"a+b", true, true, "a b"},
        {"%2B%00%ff", true, true, std::string("+\0\xFF", 3)},
        {"%", true, false, ""},
        {"%4", true, false, ""},
        {"ab%4", true, false, ""},
        {"%g0", true, false, ""},
        {"%0g", true, false, ""},
    };
    for (const Case& c : cases) {
        const Result<std::string> decoded = PercentDecode(c.text, c.plusIsSpace);
        EXPECT_EQ(decoded.ok(), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(*decoded, c.decoded) << c.text;
        }
    }
}

TEST(HeaderParameterTest, ReadsQuotedAndPlainParameters) {
    const std::string type = "Multipart/Form-Data; charset=x; Boundary=\"a;b\\\"c\"; q";
    EXPECT_EQ(MediaTypeOf(type), "multipart/form-data");
    EXPECT_EQ(HeaderParameter(type, "boundary"), "a;b\"c");
    EXPECT_EQ(HeaderParameter(type, "charset"), "x");
    EXPECT_EQ(HeaderParameter(type, "missing"), "");
    EXPECT_EQ(HeaderParameter("form-data; name=CMD", "name"), "CMD");
    EXPECT_EQ(HeaderParameter("form-data", "name"), "");
}

TEST(MultipartFormTest, KeepsEveryPartByteForByte) {
    struct Case {
        const char* name;
        std::string body;
        bool valid;
        std::string cmd;
    };
    const Case cases[] = {
        {"plain", "--b\r\nContent-Disposition: form-data; name=\"CMD\"\r\n\r\nBS|ES\r\n--b--", true,
         "BS|ES"},
        {"binary with line breaks",
         std::string("--b\r\ncontent-disposition: form-data; name=CMD\r\n\r\n\0\r\n--\r\n--b--\r\n",
                     61),
         true, std::string("\0\r\n--", 5)},
        {"nameless and headerless parts skipped",
         "--b\r\n\r\nx\r\n--b\r\nContent-Disposition: form-data\r\n\r\ny\r\n--b\r\n"
         "Content-Disposition: form-data; name=\"CMD\"\r\n\r\nz\r\n--b--",
         true, "z"},
        {"no parts", "--b--", true, ""},
        {"no delimiter", "CMD=x", false, ""},
        {"unclosed part", "--b\r\nContent-Disposition: form-data; name=CMD\r\n\r\nx", false, ""},
        {"unfinished headers", "--b\r\nContent-Disposition: form-data; name=CMD", false, ""},
        {"junk after delimiter", "--bjunk\r\n\r\nx\r\n--b--", false, ""},
    };
    for (const Case& c : cases) {
        const Result<FormFields> fields = ParseMultipartForm(c.body, "b");
        EXPECT_EQ(fields.ok(), c.valid) << c.name;
        if (c.valid) {
            EXPECT_EQ(fields->Value("CMD"), c.cmd) << c.name;
        }
    }
    EXPECT_FALSE(ParseMultipartForm("--\r\n\r\nx\r\n----", "").ok()) << "empty boundary";
}

}  // namespace
}  // namespace tillvane
