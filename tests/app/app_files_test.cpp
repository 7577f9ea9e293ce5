// Names of the files beside the program, and the entries of the two logs.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "app/app_files.h"
#include "app/app_log.h"
#include "app/log_rotation.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_mode.h"

namespace tillvane {
namespace {

using testing::ReadFile;
using testing::TempDir;

TEST(ReplaceExtensionTest, ReplacesEveryUpperCaseExe) {
    struct Case {
        std::string path;
        std::string replaced;
    };
    const Case cases[] = {
        {"D:\\POS\\TILLVANE_SE.EXE", "D:\\POS\\TILLVANE_SE.INI"},
        {"C:\\A.EXE\\B.EXE", "C:\\A.INI\\B.INI"},
        {"C:\\prog.exe", "C:\\prog.exe"},  // only the upper-case form
        {"C:\\PROG", "C:\\PROG"},
        {".EXE.EX", ".INI.EX"},
    };
    for (Case c : cases) {
        std::string path = c.path;
        ReplaceExtension(path, ".INI");
        EXPECT_EQ(path, c.replaced) << c.path;
    }
}

TEST(AppFilePathTest, NamesTheFilesAfterTheProgram) {
    struct Case {
        std::string program;
        std::string ini;
        std::string log;
        std::string html;
    };
#ifdef _WIN32
    const Case cases[] = {
        {"D:\\Pos\\Tillvane_se.exe", "D:\\POS\\TILLVANE_SE.INI", "D:\\POS\\TILLVANE_SE.LOG",
         "D:\\POS\\TILLVANE_SE.HTML"},
    };
#else
    const Case cases[] = {
        {"/opt/pos/Tillvane_se", "/opt/pos/Tillvane_se.ini", "/opt/pos/Tillvane_se.log",
         "/opt/pos/Tillvane_se.html"},
        {"/opt/pos/Tillvane_se.bin", "/opt/pos/Tillvane_se.ini", "/opt/pos/Tillvane_se.log",
         "/opt/pos/Tillvane_se.html"},
        {"/opt/v1.2/prog", "/opt/v1.2/prog.ini", "/opt/v1.2/prog.log", "/opt/v1.2/prog.html"},
        {"/opt/a.b.EXE", "/opt/a.b.ini", "/opt/a.b.log", "/opt/a.b.html"},
        {"/opt/.prog", "/opt/.prog.ini", "/opt/.prog.log", "/opt/.prog.html"},
        {"prog", "prog.ini", "prog.log", "prog.html"},
    };
#endif
    for (const Case& c : cases) {
        EXPECT_EQ(AppFilePath(c.program, AppFile::configuration), c.ini) << c.program;
        EXPECT_EQ(AppFilePath(c.program, AppFile::applicationLog), c.log) << c.program;
        EXPECT_EQ(AppFilePath(c.program, AppFile::requestLog), c.html) << c.program;
    }
#ifdef _WIN32
    EXPECT_EQ(AppFilePath("D:\\Pos\\Tillvane_se.exe", AppFile::requestJournal),
              "D:\\POS\\TILLVANE_SE.JSONL");
#else
    EXPECT_EQ(AppFilePath("/opt/pos/Tillvane_se", AppFile::requestJournal),
              "/opt/pos/Tillvane_se.jsonl");
#endif
}

TEST(AppLogTest, FormatsEntriesWithoutLeadingZeros) {
    platform::LocalTime time;
    time.tm.tm_year = 2024 - 1900;
    time.tm.tm_mon = 2;
    time.tm.tm_mday = 5;
    time.tm.tm_hour = 7;
    time.tm.tm_min = 0;
    time.tm.tm_sec = 9;
#ifdef _WIN32
    EXPECT_EQ(FormatLogEntry(time, "BS|ES"), "\r\n2024-3-5 7:0:9 - BS|ES");
#else
    EXPECT_EQ(FormatLogEntry(time, "BS|ES"), "\n2024-3-5 7:0:9 - BS|ES");
#endif
    time.tm.tm_mon = 11;
    time.tm.tm_mday = 31;
    time.tm.tm_hour = 23;
    time.tm.tm_min = 59;
    time.tm.tm_sec = 58;
    EXPECT_EQ(FormatLogEntry(time, ""),
              std::string(testing::kTextModeLineBreak) + "2024-12-31 23:59:58 - ");
}

TEST(AppLogTest, RequestLogStartsWithOneByteOrderMark) {
    TempDir dir;
    const std::string requestLog = dir.File("r.html");
    const std::string appLog = dir.File("a.log");
    ASSERT_TRUE(AppendRequestLogEntry(requestLog, "first"));
    ASSERT_TRUE(AppendRequestLogEntry(requestLog, "second \xE9"));
    ASSERT_TRUE(AppendLogEntry(appLog, "plain"));
    const std::string entry = std::string(testing::kTextModeLineBreak) +
                              R"(\d{4}-\d{1,2}-\d{1,2} \d{1,2}:\d{1,2}:\d{1,2} - )";
    EXPECT_TRUE(std::regex_match(
        ReadFile(requestLog), std::regex("\xEF\xBB\xBF" + entry + "first" + entry + "second \xE9")))
        << ReadFile(requestLog);
    EXPECT_TRUE(std::regex_match(ReadFile(appLog), std::regex(entry + "plain")));
    EXPECT_FALSE(AppendLogEntry(dir.File("missing/a.log"), "x"));
}

TEST(AppLogTest, AFullLogMovesAsideAndOnlyTheNewestAreKept) {
    TempDir dir;
    const std::string log = dir.File("Tillvane_se.log");
    for (int i = 0; i < 40; ++i) {
        testing::WriteFile(log, std::string(100, 'x'));
        RotateLogWhenFull(log, 1, LogRotation{100, 2});
    }
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_TRUE(entry.path().filename().string().starts_with("Tillvane_se")) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 2u);  // the live one was moved aside last
}

}  // namespace
}  // namespace tillvane
