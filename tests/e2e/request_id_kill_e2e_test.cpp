// The real program under load with request ids, killed (SIGKILL) at random moments and started
// again, while the tills retry every sale whose answer they did not get: no sale is ever
// printed twice, and each is either printed once and answered "OK|" or its retry is told that
// its outcome is unknown.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <deque>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/service_process.h"
#include "tests/e2e/text_driver_fixture.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace tillvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kSales = 120;
constexpr int kTills = 6;
constexpr int kKilledRounds = 6;
// A kill comes after this many answers of its round at most (at least one).
constexpr int kMaxAnswersBeforeKill = 15;
constexpr auto kRoundTimeout = 60s;

const std::string kUnknown =
    "ERR|outcome unknown: the service stopped while this request ran; check the printer before "
    "retrying with a new REQUESTID";

enum class Fate { pending, printed, unknown };

class Sales {
  public:
    Sales() {
        for (int i = 0; i < kSales; ++i) pending_.push_back(i);
        fates_.assign(kSales, Fate::pending);
    }
    bool Take(int& sale) {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return false;
        sale = pending_.front();
        pending_.pop_front();
        return true;
    }
    void Settle(int sale, Fate fate) {
        std::lock_guard lock(mutex_);
        if (fate == Fate::pending) {
            pending_.push_back(sale);
        } else {
            fates_[sale] = fate;
            ++answers_;
        }
    }
    int answers() {
        std::lock_guard lock(mutex_);
        return answers_;
    }
    bool done() {
        std::lock_guard lock(mutex_);
        return pending_.empty() && answers_ == kSales;
    }
    Fate fate(int sale) {
        std::lock_guard lock(mutex_);
        return fates_[sale];
    }

  private:
    std::mutex mutex_;
    std::deque<int> pending_;
    std::vector<Fate> fates_;
    int answers_ = 0;
};

std::string SaleName(int sale) {
    return "Sale" + std::to_string(sale);
}

// One till: sends its sales until the service goes away or nothing is left. A sale whose
// answer did not come stays for the next round, with the same id and text.
void Till(int port, Sales& sales, std::atomic<int>& failures) {
    int sale = 0;
    while (sales.Take(sale)) {
        const std::string text = "BS|SI^" + SaleName(sale) + "^1.00^1^A|AP^0^1.00|ES";
        const HttpResponse response =
            PostForm(port, "/REGCMD",
                     "CMD=" + UrlEncode(text) + "&REQUESTID=till:sale-" + std::to_string(sale));
        if (response.status == 200 && response.body == "OK|") {
            sales.Settle(sale, Fate::printed);
        } else if (response.status == 409 && response.body == kUnknown) {
            sales.Settle(sale, Fate::unknown);
        } else {
            sales.Settle(sale, Fate::pending);
            // Anything but a connection the kill cut is a fault of its own.
            if (response.status != 0) ++failures;
            return;
        }
    }
}

using RequestIdKillEndToEnd = TextDriverEndToEnd;

TEST_F(RequestIdKillEndToEnd, SalesPrintAtMostOnceThroughKillsAndRetries) {
    ConfigureTextDriver({"TVA_GROUPS=A:1"});
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> answersBeforeKill(1, kMaxAnswersBeforeKill);

    Sales sales;
    std::atomic<int> failures{0};
    for (int round = 0; round <= kKilledRounds && !sales.done(); ++round) {
        const bool last = round == kKilledRounds;
        StartService();
        std::vector<std::thread> tills;
        const int answersAtStart = sales.answers();
        for (int t = 0; t < kTills; ++t) {
            tills.emplace_back([&] { Till(port_, sales, failures); });
        }
        if (!last) {
            const int target = answersAtStart + answersBeforeKill(random);
            EXPECT_TRUE(WaitUntil([&] { return sales.answers() >= target || sales.done(); },
                                  kRoundTimeout));
            service_.child().Signal(SIGKILL);
            EXPECT_TRUE(service_.child().WaitForExit(kStopBound).has_value());
        }
        for (std::thread& till : tills) till.join();
        if (last) {
            service_.child().Signal(SIGTERM);
            EXPECT_EQ(service_.child().WaitForExit(kStopBound), 0);
        }
    }
    ASSERT_TRUE(sales.done()) << "sales still unanswered after the last round";
    EXPECT_EQ(failures, 0);

    std::vector<int> copies(kSales, 0);
    for (const auto& entry : std::filesystem::directory_iterator(receipts_)) {
        const std::string content = ReadFile(entry.path());
        for (int sale = 0; sale < kSales; ++sale) {
            const std::string field = ';' + SaleName(sale).append(";");
            if (content.find(field) != std::string::npos) ++copies[sale];
        }
    }
    int unknown = 0;
    for (int sale = 0; sale < kSales; ++sale) {
        SCOPED_TRACE(SaleName(sale));
        EXPECT_LE(copies[sale], 1);
        if (sales.fate(sale) == Fate::printed) {
            EXPECT_EQ(copies[sale], 1);
        } else {
            ++unknown;
        }
    }
    // How many sales the kills left unknown varies; the figure shows the test hit them.
    std::cout << "sales whose outcome the kills left unknown: " << unknown << " of " << kSales
              << "\n";
}

}  // namespace
}  // namespace tillvane::testing
