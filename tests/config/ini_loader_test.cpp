#include "config/ini_loader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using namespace std::string_literals;
using testing::TempDir;
using testing::WriteFile;

class INILoaderTest : public ::testing::Test {
  protected:
    // Loads `bytes` as a configuration file; the loader's result goes to `loaded`.
    INILoader LoadText(const std::string& bytes) {
        WriteFile(path_, bytes);
        INILoader loader;
        loaded = loader.Load(path_).ok();
        return loader;
    }
    // The value of `key`, or "<missing>".
    static std::string Value(const INILoader& loader, std::string_view key) {
        std::string value = "stale";
        if (!loader.GetValue(value, key)) {
            EXPECT_EQ(value, "");
            return "<missing>";
        }
        return value;
    }

    TempDir dir_;
    std::string path_ = dir_.File("Tillvane_se.ini");
    bool loaded = false;
};

TEST_F(INILoaderTest, LookupsByKey) {
    const struct {
        std::string file;
        std::string key;
        std::string expected;
    } cases[] = {
        {"driverModel=SELLTEXT", "driverModel", "SELLTEXT"},
        {"DRIVERMODEL=SELLTEXT", "driverModel", "SELLTEXT"},
        {"driverModel = SELLTEXT", "driverModel", "SELLTEXT"},
        {"\t driverModel \t=SELLTEXT", "driverModel", "SELLTEXT"},
        {"  key=  value  ", "key", "value  "},
        {"key=a=b", "key", "a"},
        {"a=1\r\na=2", "a", "1"},
        {"[Settings]\r\ntcpPort=8080", "[Settings]", ""},
        {"[Settings]\r\ntcpPort=8080", "tcpPort", "8080"},
        {"novalue\r\nx=1", "novalue", ""},
        {"key=", "key", ""},
        {"=orphan\r\nkey=v", "key", "v"},
        {"key=mixed Case ", "KEY", "mixed Case "},
    };
    for (const auto& c : cases) {
        const INILoader loader = LoadText(c.file);
        EXPECT_TRUE(loaded);
        EXPECT_EQ(Value(loader, c.key), c.expected) << c.file;
    }
}

TEST_F(INILoaderTest, EveryLineEndSeparatesLines) {
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        const INILoader loader = LoadText("tcpPort=8080" + end + "DebugMode=1" + end);
        EXPECT_EQ(Value(loader, "tcpPort"), "8080");
        EXPECT_EQ(Value(loader, "DebugMode"), "1");
        EXPECT_EQ(loader.entries().size(), 2u);  // empty lines make no entry
    }
}

TEST_F(INILoaderTest, OverLongLineStopsReadingButKeepsWhatCameBefore) {
    const INILoader loader = LoadText("before=1\r\n" + std::string(1025, 'x') + "\r\nafter=2\r\n");
    EXPECT_TRUE(loaded);
    EXPECT_EQ(Value(loader, "before"), "1");
    EXPECT_EQ(Value(loader, "after"), "<missing>");

    const INILoader longest = LoadText("v=" + std::string(1022, 'x') + "\r\nafter=2");
    EXPECT_EQ(Value(longest, "v").size(), 1022u);
    EXPECT_EQ(Value(longest, "after"), "2");
}

TEST_F(INILoaderTest, OverLongKeyDropsOnlyItsEntry) {
    const std::string key254(254, 'k');
    const std::string key255(255, 'k');
    const INILoader loader = LoadText(key255 + "=long\r\n" + key254 + "=fits\r\nnext=1");
    EXPECT_EQ(Value(loader, key254), "fits");
    EXPECT_EQ(Value(loader, key255), "<missing>");
    EXPECT_EQ(Value(loader, "next"), "1");
}

TEST_F(INILoaderTest, EmptyBlankAndBinaryFiles) {
    INILoader loader = LoadText("");
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(loader.entries().empty());

    loader = LoadText("   \r\nkey=1");
    ASSERT_EQ(loader.entries().size(), 2u);
    EXPECT_EQ(loader.entries()[0].key, "");
    EXPECT_EQ(loader.entries()[0].value, "");

    loader = LoadText("name=\x01\x80\xff;\t");
    EXPECT_EQ(Value(loader, "name"), "\x01\x80\xff;\t");
}

// `text` (ASCII, or U+00E9 written as "\xE9") as UTF-16 code units of either byte order.
std::string Utf16(std::string_view text, bool bigEndian) {
    std::string bytes;
    for (const char c : text) {
        const char units[2] = {bigEndian ? '\0' : c, bigEndian ? c : '\0'};
        bytes.append(units, 2);
    }
    return bytes;
}

// U+00E9 in the program's narrow characters: the ANSI code page on Windows, UTF-8 elsewhere.
#ifdef _WIN32
const std::string kEAcute = "\xE9";
#else
const std::string kEAcute = "\xC3\xA9";
#endif

TEST_F(INILoaderTest, NotepadEncodingsReadAsTheSameText) {
    const std::string text = "tcpPort=8080\r\nname=caf\xE9\nDebugMode=1\rlast=x";
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"UTF-8 with its mark",
         "\xEF\xBB\xBF"
         "tcpPort=8080\r\nname=caf" +
             kEAcute + "\nDebugMode=1\rlast=x"},
        {"UTF-16 LE with its mark", "\xFF\xFE" + Utf16(text, false)},
        {"UTF-16 BE with its mark", "\xFE\xFF" + Utf16(text, true)},
    };
    for (const auto& c : cases) {
        const INILoader loader = LoadText(c.bytes);
        EXPECT_TRUE(loaded) << c.name;
        EXPECT_EQ(Value(loader, "tcpPort"), "8080") << c.name;  // the first key is not lost
        EXPECT_EQ(Value(loader, "name"), "caf" + kEAcute) << c.name;
        EXPECT_EQ(Value(loader, "DebugMode"), "1") << c.name;
        EXPECT_EQ(Value(loader, "last"), "x") << c.name;
        EXPECT_EQ(loader.entries().size(), 4u) << c.name;
    }
}

TEST_F(INILoaderTest, UndecodableFilesAreRefusedWithTheirReason) {
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"UTF-16 without its mark", Utf16("tcpPort=8080", false), "NUL bytes"},
        {"NUL inside ANSI text", "a=1\r\nb=2\0\r\nc=3"s, "NUL bytes"},
        {"UTF-16 cut short", "\xFF\xFE" + Utf16("a=1", false) + "b", "odd number of bytes"},
        {"UTF-16 lone surrogate",
         "\xFF\xFE"
         "a\0=\0\x00\xD8"s,
         "cannot read"},
        {"UTF-16 holding a NUL character", "\xFF\xFE" + Utf16("a=1", false) + "\0\0"s, "NUL bytes"},
        {"UTF-32 LE",
         "\xFF\xFE\0\0"
         "a\0\0\0"s,
         "UTF-32"},
        {"UTF-32 BE",
         "\0\0\xFE\xFF"
         "\0\0\0a"s,
         "UTF-32"},
    };
    for (const auto& c : cases) {
        INILoader loader = LoadText("tcpPort=1");
        WriteFile(path_, c.bytes);
        const platform::Error error = loader.Load(path_);
        EXPECT_FALSE(error.ok()) << c.name;
        EXPECT_NE(error.text().find(c.reason), std::string::npos) << c.name << ": " << error.text();
        EXPECT_EQ(Value(loader, "tcpPort"), "1") << c.name;  // the entries before stay
    }
}

TEST_F(INILoaderTest, FailedLoadKeepsTheEntriesLoadedBefore) {
    INILoader loader = LoadText("tcpPort=8080");
    EXPECT_FALSE(loader.Load(dir_.File("missing.ini")).ok());
    EXPECT_FALSE(loader.Load(dir_.path().string()).ok());  // a folder is no configuration file
    EXPECT_EQ(Value(loader, "tcpPort"), "8080");

    INILoader empty;
    EXPECT_FALSE(empty.Load(dir_.File("missing.ini")).ok());
    EXPECT_EQ(Value(empty, "tcpPort"), "<missing>");
}

TEST(QueryFileSize, SizeOrMinusOne) {
    TempDir dir;
    WriteFile(dir.File("five"), "12345");
    EXPECT_EQ(QueryFileSize(dir.File("five")), 5);
    EXPECT_EQ(QueryFileSize(dir.File("absent")), -1);
    EXPECT_EQ(QueryFileSize(dir.path().string()), -1);
}

}  // namespace
}  // namespace tillvane
