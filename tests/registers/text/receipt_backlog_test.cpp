#include "registers/text/receipt_backlog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

struct BacklogCase {
    std::string fixedName;  // empty: time-stamped names
    std::vector<std::string> files;
    std::size_t waiting;
};

// Only the driver's own finished receipts count: not its temporary files, not others' files.
TEST(ReceiptBacklog, CountsTheDriversFinishedReceiptsOnly) {
    const BacklogCase cases[] = {
        {"", {"BON_1.txt", "bon_2.TXT", "BON_3.tmp", ".tillvane-BON_4.tmp", "other.txt"}, 2},
        {"Bon", {"BON.TXT", "BON_1.txt"}, 1},
        {"", {}, 0},
    };
    for (const BacklogCase& c : cases) {
        testing::TempDir dir;
        for (const std::string& file : c.files) testing::WriteFile(dir.File(file), "x");
        std::filesystem::create_directory(dir.path() / "BON_dir.txt");  // not a file
        const ReceiptBacklog backlog = CountWaitingReceipts({dir.path().string(), "", c.fixedName});
        EXPECT_EQ(backlog.waiting, c.waiting) << c.fixedName << c.files.size();
        EXPECT_EQ(backlog.oldestSince.has_value(), c.waiting > 0);
        EXPECT_TRUE(backlog.listProblem.empty());
        EXPECT_FALSE(backlog.countCut);
    }
}

TEST(ReceiptBacklog, AFolderThatCannotBeListedSaysWhy) {
    testing::TempDir dir;
    const ReceiptBacklog backlog = CountWaitingReceipts({dir.File("missing"), "", ""});
    EXPECT_EQ(backlog.waiting, 0u);
    EXPECT_FALSE(backlog.listProblem.empty());
}

}  // namespace
}  // namespace tillvane
