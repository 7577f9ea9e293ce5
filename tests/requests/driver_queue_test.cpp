// The queue in front of the driver: one thread runs the jobs one at a time in arrival order,
// a full queue refuses at once, and a stop refuses what waits while the running job finishes.
// Its threads are what the thread-sanitizer build looks at.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "requests/driver_queue.h"
#include "tests/support/wait.h"

namespace tillvane {
namespace {

using namespace std::chrono_literals;
constexpr auto kTimeout = 5000ms;

// Jobs that note what became of them; the first can be held at the driver until released.
struct Journal {
    std::mutex mutex;
    std::vector<int> ran;
    std::vector<int> refused;
    std::set<std::thread::id> threads;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> holding{false};

    DriverJob Job(int number, bool hold = false) {
        return {[this, number, hold] {
                    if (hold) {
                        holding = true;
                        released.wait();
                    }
                    std::lock_guard lock(mutex);
                    ran.push_back(number);
                    threads.insert(std::this_thread::get_id());
                },
                [this, number] {
                    std::lock_guard lock(mutex);
                    refused.push_back(number);
                }};
    }
    std::size_t RanCount() {
        std::lock_guard lock(mutex);
        return ran.size();
    }
};

TEST(DriverQueueTest, RunsInArrivalOrderOnOneThreadAndRefusesWhenFull) {
    constexpr std::size_t kWaiting = 3;
    Journal journal;
    DriverQueue queue(kWaiting);
    EXPECT_FALSE(queue.Submit(journal.Job(0))) << "no thread yet";
    ASSERT_TRUE(queue.Start().ok());
    EXPECT_FALSE(queue.Start().ok()) << "one driver thread only";
    ASSERT_TRUE(queue.Submit(journal.Job(1, true)));
    ASSERT_TRUE(testing::WaitUntil([&] { return journal.holding.load(); }, kTimeout));
    for (int number = 2; number < 2 + static_cast<int>(kWaiting); ++number) {
        EXPECT_TRUE(queue.Submit(journal.Job(number)));
    }
    EXPECT_FALSE(queue.Submit(journal.Job(99))) << "every place taken";

    journal.release.set_value();
    ASSERT_TRUE(testing::WaitUntil([&] { return journal.RanCount() == 1 + kWaiting; }, kTimeout));
    queue.Stop();
    queue.Join();
    EXPECT_EQ(journal.ran, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(journal.refused.empty());
    EXPECT_EQ(journal.threads.size(), 1u);
    EXPECT_FALSE(journal.threads.contains(std::this_thread::get_id()));
}

TEST(DriverQueueTest, HeldPlacesCountAmongTheWaitingJobs) {
    constexpr std::size_t kWaiting = 3;
    Journal journal;
    std::shared_ptr<void> outliving;
    {
        DriverQueue queue(kWaiting);
        ASSERT_TRUE(queue.Start().ok());
        ASSERT_TRUE(queue.Submit(journal.Job(1, true)));
        ASSERT_TRUE(testing::WaitUntil([&] { return journal.holding.load(); }, kTimeout));
        std::shared_ptr<void> first = queue.HoldPlace();
        ASSERT_NE(first, nullptr);
        ASSERT_TRUE(queue.Submit(journal.Job(2)));
        outliving = queue.HoldPlace();
        ASSERT_NE(outliving, nullptr);
        EXPECT_EQ(queue.waiting(), kWaiting);
        EXPECT_FALSE(queue.Submit(journal.Job(99))) << "every place taken";
        EXPECT_EQ(queue.HoldPlace(), nullptr);
        first.reset();  // its request got its answer
        EXPECT_TRUE(queue.Submit(journal.Job(3)));
        queue.Stop();
        EXPECT_EQ(queue.HoldPlace(), nullptr) << "stopped";
        journal.release.set_value();
    }
    outliving.reset();  // after the queue: harmless
    EXPECT_EQ(journal.ran, (std::vector<int>{1}));
    EXPECT_EQ(journal.refused, (std::vector<int>{2, 3}));
}

TEST(DriverQueueTest, StopRefusesTheWaitingJobsAndLetsTheRunningOneFinish) {
    Journal journal;
    DriverQueue queue;
    ASSERT_TRUE(queue.Start().ok());
    ASSERT_TRUE(queue.Submit(journal.Job(1, true)));
    ASSERT_TRUE(testing::WaitUntil([&] { return journal.holding.load(); }, kTimeout));
    ASSERT_TRUE(queue.Submit(journal.Job(2)));
    ASSERT_TRUE(queue.Submit(journal.Job(3)));

    // The stop comes from another thread, as the service's stop does.
    std::thread stopper([&] { queue.Stop(); });
    stopper.join();
    EXPECT_TRUE(queue.stopped());
    EXPECT_FALSE(queue.Submit(journal.Job(4)));
    journal.release.set_value();
    queue.Join();
    queue.Stop();  // again: nothing left to do
    EXPECT_EQ(journal.ran, (std::vector<int>{1}));
    EXPECT_EQ(journal.refused, (std::vector<int>{2, 3}));
}

TEST(DriverQueueTest, JobsSubmittedFromManyThreadsRunOnceEach) {
    constexpr int kThreads = 4;
    constexpr int kJobsPerThread = 50;
    std::atomic<int> runs{0};
    std::atomic<int> accepted{0};
    {
        DriverQueue queue(kThreads * kJobsPerThread);
        ASSERT_TRUE(queue.Start().ok());
        std::vector<std::thread> submitters;
        for (int t = 0; t < kThreads; ++t) {
            submitters.emplace_back([&] {
                for (int j = 0; j < kJobsPerThread; ++j) {
                    if (queue.Submit({[&] { ++runs; }, {}})) ++accepted;
                }
            });
        }
        for (std::thread& submitter : submitters) submitter.join();
        ASSERT_TRUE(testing::WaitUntil([&] { return runs == accepted; }, kTimeout));
    }  // the destructor stops the queue and joins its thread
    EXPECT_EQ(accepted, kThreads * kJobsPerThread);
}

}  // namespace
}  // namespace tillvane
