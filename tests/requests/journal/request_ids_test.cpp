#include "requests/journal/request_ids.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/throttled_log.h"
#include "requests/reply_status.h"

namespace tillvane {
namespace {

// An id is kept for its whole retention, counted from the millisecond it first came: its
// first-seen time is held in whole seconds, and rounding it down would forget the id up to a
// second early, so that a till's retry just inside the retention printed the receipt again.
TEST(RequestIds, AnIdIsNeverForgottenBeforeItsRetention) {
    const struct {
        std::int64_t firstSeen;  // milliseconds
        std::int64_t retry;
        IdAdmission expected;
    } cases[] = {
        {1999, 2998, IdAdmission::replay},  // 999 ms after: inside a 1 s retention
        {1999, 3000, IdAdmission::fresh},   // 1001 ms after: forgotten
        {2000, 2999, IdAdmission::replay},
        {2000, 3000, IdAdmission::fresh},
    };
    for (const auto& c : cases) {
        RequestIds ids(std::chrono::seconds(1));
        const std::uint64_t digest = DigestOfCommandText("BS|ES");
        ASSERT_EQ(ids.Admit("r1", digest, c.firstSeen, {}).admission, IdAdmission::fresh);
        ids.End("r1", true, kHttpOk, "OK|");
        EXPECT_EQ(ids.Admit("r1", digest, c.retry, {}).admission, c.expected)
            << c.firstSeen << " then " << c.retry;
    }
}

// A flood of distinct ids stays within the cap: the oldest answered ones go, with one log
// entry a minute, and the one still running stays.
TEST(RequestIds, AFloodOfIdsStaysWithinItsCap) {
    constexpr std::size_t kCap = 100;
    std::vector<std::string> log;
    RequestIds ids(std::chrono::hours(1), kCap,
                   [&](std::string_view entry) { log.emplace_back(entry); });
    const std::uint64_t digest = DigestOfCommandText("XR");
    ASSERT_EQ(ids.Admit("running", digest, 0, {}).admission, IdAdmission::fresh);
    for (int i = 0; i < 10 * static_cast<int>(kCap); ++i) {
        const std::string id = "id" + std::to_string(i);
        ASSERT_EQ(ids.Admit(id, digest, i, {}).admission, IdAdmission::fresh);
        ids.End(id, true, kHttpOk, "OK|");
    }
    EXPECT_LE(ids.size(), kCap);
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(ids.Admit("running", digest, 0, {}).admission, IdAdmission::joined);
    EXPECT_EQ(ids.Admit("id999", digest, 0, {}).admission, IdAdmission::replay);
    EXPECT_EQ(ids.Admit("id0", digest, 0, {}).admission, IdAdmission::fresh);
}

// A flood of one kind from one source: one entry, then one with the count; sources beyond the
// followed ones share one count.
TEST(ThrottledLogTest, OneEntryAWindowPerSourceThenItsCount) {
    std::vector<std::string> log;
    ThrottledLog throttled([&](std::string_view entry) { log.emplace_back(entry); }, 1000, 2);
    for (int i = 0; i < 300; ++i) throttled.Note(std::to_string(i % 3), "refused", i);
    throttled.Flush(2000);
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[5], "Repeated 99 more time(s) within 1 s, the last: refused");
}

}  // namespace
}  // namespace tillvane
