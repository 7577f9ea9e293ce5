#include "requests/journal/request_ids.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "http/web_request.h"

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
        int status = 0;
        std::string reply;
        ASSERT_EQ(ids.Admit("r1", digest, c.firstSeen, {}, status, reply), IdAdmission::fresh);
        ids.End("r1", true, kHttpOk, "OK|");
        EXPECT_EQ(ids.Admit("r1", digest, c.retry, {}, status, reply), c.expected)
            << c.firstSeen << " then " << c.retry;
    }
}

}  // namespace
}  // namespace tillvane
