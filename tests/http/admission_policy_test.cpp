// The connection caps, decided without sockets: who gives way when one address, all clients
// together or the memory of unfinished requests reach their bound.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/admission_policy.h"

namespace tillvane {
namespace {

using Verdict = AdmissionDecision::Verdict;
using Phase = ConnectionPhase;

constexpr auto kStart = std::chrono::steady_clock::time_point{};

// A connection from `address` that began waiting `age` seconds after the start (smaller is older).
ConnectionState Connection(std::string address, Phase phase, int age, std::size_t bytes = 0) {
    return {std::move(address), phase, kStart + std::chrono::seconds(age), bytes};
}

WebServerLimits Limits(std::size_t total, std::size_t perAddress, std::size_t memory = 1000) {
    WebServerLimits limits;
    limits.maxConnections = total;
    limits.maxConnectionsPerAddress = perAddress;
    limits.maxPendingRequestBytes = memory;
    return limits;
}

const std::string kA = "192.0.2.1";
const std::string kB = "192.0.2.2";

TEST(AdmissionPolicyTest, NewcomerIsAdmittedRefusedOrMakesRoom) {
    const struct {
        const char* behaviour;
        std::vector<ConnectionState> open;
        std::string newcomer;
        WebServerLimits limits;
        AdmissionDecision expected;
    } rows[] = {
        {"room for everyone",
         {Connection(kA, Phase::receiving, 1)},
         kA,
         Limits(4, 2),
         {Verdict::admit}},
        {"per-address cap: that address's oldest unfinished one goes",
         {Connection(kB, Phase::receiving, 0), Connection(kA, Phase::receiving, 2),
          Connection(kA, Phase::receiving, 1)},
         kA,
         Limits(10, 2),
         {Verdict::close, 2}},
        {"per-address cap spares other addresses",
         {Connection(kB, Phase::receiving, 0), Connection(kA, Phase::receiving, 1)},
         kB,
         Limits(10, 1),
         {Verdict::close, 0}},
        {"per-address cap with every one awaiting its answer: refused",
         {Connection(kA, Phase::awaitingAnswer, 0), Connection(kA, Phase::answering, 1),
          Connection(kB, Phase::receiving, 2)},
         kA,
         Limits(10, 2),
         {Verdict::refuse}},
        {"total cap: the oldest unfinished one of any address goes",
         {Connection(kA, Phase::receiving, 3), Connection(kB, Phase::lingering, 2),
          Connection(kA, Phase::awaitingAnswer, 1)},
         "192.0.2.3",
         Limits(3, 2),
         {Verdict::close, 1}},
        {"total cap with every one awaiting or receiving its answer: refused",
         {Connection(kA, Phase::awaitingAnswer, 0), Connection(kB, Phase::answering, 1)},
         kA,
         Limits(2, 2),
         {Verdict::refuse}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(AdmitNewcomer(row.open, row.newcomer, row.limits), row.expected) << row.behaviour;
    }
}

TEST(AdmissionPolicyTest, MemoryOfUnfinishedRequestsIsBounded) {
    const struct {
        const char* behaviour;
        std::vector<ConnectionState> open;
        std::size_t grower;
        AdmissionDecision expected;
    } rows[] = {
        {"within the bound",
         {Connection(kA, Phase::receiving, 0, 600), Connection(kB, Phase::receiving, 1, 400)},
         1,
         {Verdict::admit}},
        {"over it: the oldest unfinished other one goes",
         {Connection(kA, Phase::receiving, 2, 300), Connection(kB, Phase::receiving, 1, 300),
          Connection(kA, Phase::receiving, 3, 500)},
         2,
         {Verdict::close, 1}},
        {"the grower is spared even when oldest",
         {Connection(kA, Phase::receiving, 0, 900), Connection(kB, Phase::receiving, 1, 200)},
         0,
         {Verdict::close, 1}},
        {"one awaiting its answer is never closed for it",
         {Connection(kA, Phase::awaitingAnswer, 0, 0), Connection(kB, Phase::receiving, 1, 1100)},
         1,
         {Verdict::refuse}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(BoundPendingMemory(row.open, row.grower, Limits(10, 10, 1000)), row.expected)
            << row.behaviour;
    }
}

}  // namespace
}  // namespace tillvane
