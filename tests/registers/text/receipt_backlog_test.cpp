#include "registers/text/receipt_backlog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

// Only the driver's finished receipts count; a folder that cannot be listed says why.
TEST(ReceiptBacklog, CountsTheDriversFinishedReceiptsOnly) {
    const struct {
        std::string fixedName;  // empty: time-stamped names
        std::vector<std::string> files;
        std::size_t waiting;
    } cases[] = {
        {"", {"BON_1.txt", "bon_2.TXT", "BON_3.tmp", ".tillvane-BON_4.tmp", "other.txt"}, 2},
        {"Bon", {"BON.TXT", "BON_1.txt"}, 1},
    };
    for (const auto& c : cases) {
        testing::TempDir dir;
        for (const std::string& file : c.files) testing::WriteFile(dir.File(file), "x");
        std::filesystem::create_directory(dir.path() / "BON_dir.txt");
        const ReceiptBacklog backlog = CountWaitingReceipts({dir.path().string(), "", c.fixedName});
        EXPECT_EQ(backlog.waiting, c.waiting) << c.fixedName;
        EXPECT_TRUE(backlog.oldestSince && backlog.listProblem.empty() && !backlog.countCut);
        EXPECT_FALSE(CountWaitingReceipts({dir.File("gone"), "", ""}).listProblem.empty());
    }
}

}  // namespace
}  // namespace tillvane
