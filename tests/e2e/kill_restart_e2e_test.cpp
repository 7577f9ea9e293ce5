// The real program killed (SIGKILL) at random moments while several tills send receipts, then
// started again: every receipt answered "OK|" is in the folder, whole and once, and no partial,
// empty or temporary receipt file is left once the restarted service has cleaned up.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "registers/text/receipt_path.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace tillvane::testing {
namespace {

constexpr int kTills = 4;
constexpr int kRounds = 6;
// Each round kills the service once between this many and kMostAnsweredBeforeKill answers.
constexpr int kFewestAnsweredBeforeKill = 1;
constexpr int kMostAnsweredBeforeKill = 40;
// A little more randomness in where the kill lands within a receipt's work.
constexpr int kMostExtraMicroseconds = 3000;
constexpr std::chrono::milliseconds kRoundBound{20000};
// Every so many receipts a till sends a large one (longer to write) or an X report.
constexpr int kLargeReceiptEvery = 5;
constexpr int kLargeReceiptLines = 300;
constexpr int kReportEvery = 9;
constexpr int kMostItems = 7;

const std::string kReportFile = "X,1,______,_,__;\n";

// A receipt whose item names make its file unlike any other: the command text and the file
// the service must write for it.
struct Receipt {
    std::string text;
    std::string file;
};

Receipt MakeReceipt(int till, int round, int number) {
    const std::string tag =
        "T" + std::to_string(till) + "R" + std::to_string(round) + "N" + std::to_string(number);
    Receipt receipt{"BS", ""};
    for (int item = 0; item <= number % kMostItems; ++item) {
        const std::string name = tag + "I" + std::to_string(item);
        receipt.text += "|SI^" + name + "^1.50^2^A";
        receipt.file += "S,1,______,_,__;" + name + ";1.50;2.000;1;1;1;0;0;\n";
    }
    if (number % kLargeReceiptEvery == 0) {
        for (int line = 0; line < kLargeReceiptLines; ++line) {
            receipt.text += "|PT^" + tag;
            receipt.file += "P,1,______,_,__;" + tag + ";;;;;\n";
        }
    }
    receipt.text += "|AP^0^100|ES";
    receipt.file += "T,1,______,_,__;0;100.00;;;;\n";
    return receipt;
}

class KillAndRestart : public TextDriverEndToEnd {
  protected:
    void SetUp() override { ConfigureTextDriver({"TVA_GROUPS=A:1|B:2"}); }

    // Starts the service and waits until it answers: its start-up clean-up is done by then.
    void StartService() {
        TextDriverEndToEnd::StartService();
        for (const auto& entry : std::filesystem::directory_iterator(receipts_)) {
            EXPECT_FALSE(IsTemporaryReceiptName(entry.path().filename().string()))
                << entry.path() << " survived the restart";
        }
    }

    void Kill() {
        ASSERT_TRUE(service_.child().Signal(SIGKILL));
        EXPECT_EQ(service_.child().WaitForExit(kStopBound), 128 + SIGKILL);
    }

    // One till sending receipts until the service is killed; what it was answered "OK|" for,
    // and everything it sent, go into the shared records.
    void Till(int till, int round, const std::atomic<bool>& killed) {
        for (int number = 0; !killed; ++number) {
            const bool report = number % kReportEvery == kReportEvery - 1;
            const Receipt receipt =
                report ? Receipt{"XR", kReportFile} : MakeReceipt(till, round, number);
            {
                std::lock_guard lock(mutex_);
                sent_.insert(receipt.file);
            }
            const HttpResponse response =
                PostForm(port_, "/REGCMD", "CMD=" + UrlEncode(receipt.text));
            if (response.body == "OK|") {
                std::lock_guard lock(mutex_);
                ++answered_[receipt.file];
                ++answeredCount_;
            } else if (!killed) {
                ADD_FAILURE() << "answered [" << response.body << "] " << response.error;
                return;
            }
        }
    }

    std::mutex mutex_;
    std::set<std::string> sent_;           // files the service may have written
    std::map<std::string, int> answered_;  // file, times answered "OK|"
    std::atomic<int> answeredCount_{0};
};

TEST_F(KillAndRestart, AnsweredReceiptsSurviveWholeAndNothingPartialStays) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> answersBeforeKill(kFewestAnsweredBeforeKill,
                                                         kMostAnsweredBeforeKill);
    std::uniform_int_distribution<int> extraMicroseconds(0, kMostExtraMicroseconds);

    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        StartService();
        std::atomic<bool> killed{false};
        const int target = answeredCount_ + answersBeforeKill(random);
        std::vector<std::thread> tills;
        for (int till = 0; till < kTills; ++till) {
            tills.emplace_back([this, till, round, &killed] { Till(till, round, killed); });
        }
        EXPECT_TRUE(WaitUntil([&] { return answeredCount_ >= target; }, kRoundBound));
        std::this_thread::sleep_for(std::chrono::microseconds(extraMicroseconds(random)));
        killed = true;
        Kill();
        for (std::thread& till : tills) till.join();
    }
    StartService();

    static const std::regex kReceiptName(R"(BON_\d{8}_\d{6}_\d{3}(_\d+)?\.txt)");
    std::map<std::string, int> found;
    for (const auto& entry : std::filesystem::directory_iterator(receipts_)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::regex_match(name, kReceiptName)) << name;
        const std::string content = ReadFile(entry.path());
        EXPECT_EQ(sent_.count(content), 1u)
            << name << " is not a whole receipt: [" << content << "]";
        ++found[content];
    }
    for (const auto& [file, times] : answered_) {
        if (file == kReportFile) {
            EXPECT_GE(found[file], times) << "X reports answered OK| but missing";
        } else {
            EXPECT_EQ(found[file], 1) << "answered OK| but not there once:\n" << file;
        }
    }
    for (const auto& [file, times] : found) {
        if (file != kReportFile) {
            EXPECT_EQ(times, 1) << "written twice:\n" << file;
        }
    }
    EXPECT_GT(answeredCount_, kRounds * kFewestAnsweredBeforeKill - 1);
}

// A receipt left open when the service dies is a temporary file until the restart removes it
// and says so in the register log.
TEST_F(KillAndRestart, AReceiptLeftOpenIsRemovedAtTheRestart) {
    StartService();
    ASSERT_EQ(PostForm(port_, "/REGCMD", "CMD=" + UrlEncode("BS|SI^Apa^1^1^A")).body, "OK|");
    std::vector<std::filesystem::path> open;
    for (const auto& entry : std::filesystem::directory_iterator(receipts_)) {
        open.push_back(entry.path());
    }
    ASSERT_EQ(open.size(), 1u);
    EXPECT_TRUE(IsTemporaryReceiptName(open[0].filename().string())) << open[0];
    Kill();

    StartService();
    EXPECT_TRUE(std::filesystem::is_empty(receipts_));
    EXPECT_NE(ReadFile(service_.File("_Tillvane_se.log"))
                  .find("->Removed leftover temporary file " + open[0].string() +
                        ": a receipt cut short before it was answered"),
              std::string::npos);
    EXPECT_EQ(PostForm(port_, "/REGCMD", "CMD=" + UrlEncode("BS|SI^Apa^1^1^A|AP^0^1|ES")).body,
              "OK|");
}

}  // namespace
}  // namespace tillvane::testing
