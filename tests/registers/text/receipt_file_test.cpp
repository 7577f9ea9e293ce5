// The order of the file calls that publish a receipt, and what each failing call leaves: the
// printer must never see a receipt the till was told failed, nor miss one it was told printed.

#include "registers/text/receipt_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ini_loader.h"
#include "registers/text/fprint_register.h"
#include "registers/text/receipt_path.h"
#include "tests/support/recording_file_system.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using platform::ErrorKind;
using testing::RecordingFileSystem;
using Ops = std::vector<std::string>;

TEST(ReceiptFileTest, EachFailingCallLeavesNoReceiptAndAnswersAnError) {
    struct Case {
        const char* name;
        const char* failing;  // the operation that fails once; "" for none
        ErrorKind kind;
        Ops operations;
        bool closed;
        std::string removed;  // "temporary", "receipt" or "" : what the failure takes away
    };
    const std::vector<Case> cases = {
        {"AllWell",
         "",
         ErrorKind::other,
         {"create", "write", "flush", "close", "move", "flush-folder"},
         true,
         ""},
        {"WriteFails",
         "write",
         ErrorKind::other,
         {"create", "write", "close", "remove"},
         false,
         "temporary"},
        {"FlushFails",
         "flush",
         ErrorKind::other,
         {"create", "write", "flush", "close", "remove"},
         false,
         "temporary"},
        {"CloseFails",
         "close",
         ErrorKind::other,
         {"create", "write", "flush", "close", "close", "remove"},
         false,
         "temporary"},
        {"MoveFails",
         "move",
         ErrorKind::other,
         {"create", "write", "flush", "close", "move", "remove"},
         false,
         "temporary"},
        {"NameTakenTakesTheNextSuffix",
         "move",
         ErrorKind::nameTaken,
         {"create", "write", "flush", "close", "move", "move", "flush-folder"},
         true,
         ""},
        {"FolderFlushFails",
         "flush-folder",
         ErrorKind::other,
         {"create", "write", "flush", "close", "move", "flush-folder", "remove"},
         false,
         "receipt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        testing::WriteFile(dir.File("driver.ini"),
                           "TVA_GROUPS=A:1\r\noutputFolder=" + dir.path().string() + "\r\n");
        INILoader loader;
        ASSERT_TRUE(loader.Load(dir.File("driver.ini")).ok());
        RecordingFileSystem files;
        FPrintRegister driver(files);
        driver.log.SetPath(dir.File("register.log"));
        driver.LoadSharedSettings(loader);
        const auto openReceipt = [&driver] {
            ASSERT_TRUE(driver.BeginSell());
            std::string item = "Bread";
            ASSERT_TRUE(driver.SellItem(item, 1.0, 1.0, "A", '1', 1));
            ASSERT_TRUE(driver.Payment(1, 1.0));
        };
        openReceipt();
        if (*c.failing != '\0') files.Fail(c.failing, 1, c.kind);

        std::string message;
        EXPECT_EQ(driver.CloseReceipt(&message), c.closed);
        EXPECT_EQ(files.Operations(), c.operations);
        const Ops calls = files.Calls();
        ASSERT_FALSE(calls.empty());
        const std::string temporary = calls.front().substr(std::string("create ").size());
        EXPECT_TRUE(IsTemporaryReceiptName(std::filesystem::path(temporary).filename().string()));
        if (c.closed) {
            EXPECT_EQ(calls.back(), "flush-folder " + ReceiptFolder(driver.outputFolder()));
            EXPECT_EQ(calls[calls.size() - 2], "move " + temporary + " " + driver.receiptPath());
            EXPECT_TRUE(message.empty()) << message;
        } else {
            const std::string gone = c.removed == "receipt" ? driver.receiptPath() : temporary;
            EXPECT_EQ(calls.back(), "remove " + gone);
            EXPECT_EQ(message, "Error writing file " + driver.receiptPath() + ": " +
                                   RecordingFileSystem::kFailureText);
            // The till is not stranded: the next receipt publishes as usual.
            openReceipt();
            EXPECT_TRUE(driver.CloseReceipt(&message)) << message;
        }
    }
}

}  // namespace
}  // namespace tillvane
