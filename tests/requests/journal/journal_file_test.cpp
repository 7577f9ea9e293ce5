// The order of the journal's file calls, and what each failing call leaves: a line counts as
// durable only once a flush after it succeeded, a failed line leaves nothing counted, and a
// failed rotation never leaves the journal closed.

#include "requests/journal/journal_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/recording_file_system.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using testing::RecordingFileSystem;
using Ops = std::vector<std::string>;

constexpr std::string_view kLine = "{\"n\":1}\n";

TEST(JournalFileCallsTest, EveryFailureKeepsTheJournalWritableAndHonest) {
    struct Case {
        const char* name;
        // Runs against a journal opened on an empty folder that rotates past one line.
        std::function<void(JournalFile&, RecordingFileSystem&)> run;
        Ops operations;  // after Open's "open", "flush-folder"
    };
    const std::vector<Case> cases = {
        {"AppendedThenFlushedOnce",
         [](JournalFile& file, RecordingFileSystem&) {
             const JournalAppend appended = file.Append(kLine);
             ASSERT_TRUE(appended.error.ok());
             EXPECT_TRUE(file.WaitDurable(appended.ticket).ok());
             // Durable already: no second flush.
             EXPECT_TRUE(file.WaitDurable(appended.ticket).ok());
         },
         {"append", "flush"}},
        {"FailedFlushIsNotCountedDurable",
         [](JournalFile& file, RecordingFileSystem& files) {
             const JournalAppend appended = file.Append(kLine);
             files.Fail("flush");
             EXPECT_EQ(file.WaitDurable(appended.ticket).text(), RecordingFileSystem::kFailureText);
             EXPECT_TRUE(file.WaitDurable(appended.ticket).ok());
         },
         {"append", "flush", "flush"}},
        {"FailedAppendGetsNoTicketAndCountsNothing",
         [](JournalFile& file, RecordingFileSystem& files) {
             files.Fail("append");
             const JournalAppend failed = file.Append(kLine);
             EXPECT_FALSE(failed.error.ok());
             EXPECT_EQ(failed.ticket, 0u);
             const JournalAppend appended = file.Append(kLine);
             ASSERT_TRUE(appended.error.ok());
             EXPECT_EQ(appended.ticket, kLine.size());
         },
         {"append", "append"}},
        {"RotationFlushesMovesReopensAndFlushesTheFolder",
         [](JournalFile& file, RecordingFileSystem&) {
             (void)file.Append(kLine);
             const JournalAppend appended = file.Append(kLine);
             EXPECT_TRUE(appended.error.ok() && appended.rotation.ok());
         },
         {"append", "flush", "move", "open", "flush-folder", "append"}},
        {"FailedRotationFlushMovesNothingAndCountsNothingDurable",
         [](JournalFile& file, RecordingFileSystem& files) {
             const JournalAppend first = file.Append(kLine);
             files.Fail("flush");
             const JournalAppend appended = file.Append(kLine);
             EXPECT_FALSE(appended.rotation.ok());
             ASSERT_TRUE(appended.error.ok());
             // The line before the failed flush is not on the disk yet: it is flushed now.
             EXPECT_TRUE(file.WaitDurable(first.ticket).ok());
         },
         {"append", "flush", "append", "flush"}},
        {"FailedRotationMoveReopensTheLiveFile",
         [](JournalFile& file, RecordingFileSystem& files) {
             (void)file.Append(kLine);
             files.Fail("move");
             const JournalAppend appended = file.Append(kLine);
             EXPECT_EQ(appended.rotation.text(), std::string("cannot rotate the journal: ") +
                                                     RecordingFileSystem::kFailureText);
             ASSERT_TRUE(appended.error.ok());
             EXPECT_TRUE(file.WaitDurable(appended.ticket).ok());
         },
         {"append", "flush", "move", "open", "append", "flush"}},
        {"FailedReopenAfterRotationIsRetriedForTheLine",
         [](JournalFile& file, RecordingFileSystem& files) {
             (void)file.Append(kLine);
             files.Fail("open");
             const JournalAppend appended = file.Append(kLine);
             EXPECT_FALSE(appended.rotation.ok());
             EXPECT_TRUE(appended.error.ok());
         },
         {"append", "flush", "move", "open", "open", "append"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        RecordingFileSystem files;
        JournalFile file(dir.File("j.jsonl"), kLine.size(), 0, files);
        ASSERT_TRUE(file.Open().ok());
        c.run(file, files);
        Ops expected = {"open", "flush-folder"};
        expected.insert(expected.end(), c.operations.begin(), c.operations.end());
        EXPECT_EQ(files.Operations(), expected);
    }
}

TEST(JournalFileCallsTest, OpenCutsATornTailBeforeOpening) {
    testing::TempDir dir;
    const std::string path = dir.File("j.jsonl");
    testing::WriteFile(path, "{\"n\":1}\n{\"n\":");
    RecordingFileSystem files;
    JournalFile file(path, kJournalRotateBytes, 0, files);
    ASSERT_TRUE(file.Open().ok());
    EXPECT_EQ(files.Calls(), (Ops{"truncate " + path + " 8", "open " + path}));
}

// However fast records come, the journal keeps at most its cap of files on disk.
TEST(JournalFileCallsTest, AFloodOfRecordsKeepsTheFileCap) {
    testing::TempDir dir;
    JournalFile file(dir.File("j.jsonl"), 2 * kLine.size(), 0, platform::SystemFileSystem(), 3);
    ASSERT_TRUE(file.Open().ok());
    int removedEarly = 0;
    for (int i = 0; i < 20; ++i) removedEarly += file.Append(kLine).removedEarly;
    EXPECT_EQ(file.RotatedFiles().size(), 3u);
    EXPECT_EQ(removedEarly, 6);
}

}  // namespace
}  // namespace tillvane
