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
        EXPECT_EQ(PosixReceiptPath(NormalisePosixOutputFolder(c.configured), "N"), c.path)
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
        EXPECT_EQ(WindowsReceiptPath(NormaliseWindowsOutputFolder(c.configured), "N"), c.path)
            << c.configured;
    }
}

}  // namespace
}  // namespace tillvane
