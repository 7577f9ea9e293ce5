#include "registers/text/receipt_path.h"

#include <gtest/gtest.h>

#include <string>

namespace tillvane {
namespace {

struct PathCase {
    std::string configured;
    std::string path;  // of the receipt "N"
};

TEST(ReceiptPath, PosixRules) {
    const PathCase cases[] = {
        {"/srv/Receipts", "/srv/Receipts/N.txt"},  // never upper-cased
        {"/srv/out/  ", "/srv/out/N.txt"},
        {"out//", "out/N.txt"},
        {"out\\", "out\\/N.txt"},  // a backslash is an ordinary character here
        {"", "N.txt"},             // the working directory
        {"/", "/N.txt"},           // the root keeps its slash
        {"a b  ", "a b/N.txt"},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(PosixFolderEntryPath(NormalisePosixOutputFolder(c.configured), "N.txt"), c.path)
            << c.configured;
    }
}

TEST(ReceiptPath, WindowsRules) {
    const PathCase cases[] = {
        {"c:\\receipts\\ ", "C:\\RECEIPTS\\N.txt"},
        {"d:\\Bon", "D:\\BON\\N.txt"},
        {"", "\\N.txt"},  // the root of the current drive
        {"\\", "\\N.txt"},
        {"x\\\\", "X\\\\N.txt"},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(WindowsFolderEntryPath(NormaliseWindowsOutputFolder(c.configured), "N.txt"),
                  c.path)
            << c.configured;
    }
}

// The printer's software takes "*.txt" files and leaves hidden ones alone; the start-up
// clean-up removes what TemporaryReceiptPath makes and nothing else.
TEST(ReceiptPath, TemporaryNames) {
    const std::string temporary = ".tillvane-BON_20261207_114227_042_3.tmp";
    const std::string path = TemporaryReceiptPath("out", "BON_20261207_114227_042_3");
    EXPECT_TRUE(path == "out/" + temporary || path == "out\\" + temporary) << path;
    const struct {
        std::string name;
        bool temporary;
    } cases[] = {
        {temporary, true},          {".tillvane-r.tmp", true},
        {".tillvane-.tmp", false},  {"BON_20261207_114227_042.txt", false},
        {".tillvane-r.txt", false}, {"tillvane-r.tmp", false},
        {".other.tmp", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsTemporaryReceiptName(c.name), c.temporary) << c.name;
}

}  // namespace
}  // namespace tillvane
