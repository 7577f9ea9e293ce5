#include "http/admission_policy.h"

#include <numeric>
#include <optional>

namespace tillvane {

namespace {

using Verdict = AdmissionDecision::Verdict;

// A connection that has sent no complete request it waits an answer for.
bool MayGiveWay(const ConnectionState& connection) {
    return connection.phase == ConnectionPhase::receiving ||
           connection.phase == ConnectionPhase::lingering;
}

// The connection, other than `spared`, that has waited longest for a complete request; from
// `address` only, unless it is null.
std::optional<std::size_t> OldestUnfinished(std::span<const ConnectionState> open,
                                            const std::string_view* address,
                                            std::optional<std::size_t> spared) {
    std::optional<std::size_t> oldest;
    for (std::size_t i = 0; i < open.size(); ++i) {
        if (i == spared || !MayGiveWay(open[i])) continue;
        if (address != nullptr && open[i].address != *address) continue;
        if (!oldest || open[i].waitingSince < open[*oldest].waitingSince) oldest = i;
    }
    return oldest;
}

AdmissionDecision CloseOrRefuse(std::optional<std::size_t> victim) {
    if (!victim) return {Verdict::refuse};
    return {Verdict::close, *victim};
}

}  // namespace

AdmissionDecision AdmitNewcomer(std::span<const ConnectionState> open, std::string_view address,
                                const WebServerLimits& limits) {
    std::size_t fromAddress = 0;
    for (const auto& connection : open) {
        if (connection.address == address) ++fromAddress;
    }
    if (fromAddress >= limits.maxConnectionsPerAddress) {
        return CloseOrRefuse(OldestUnfinished(open, &address, std::nullopt));
    }
    if (open.size() >= limits.maxConnections) {
        return CloseOrRefuse(OldestUnfinished(open, nullptr, std::nullopt));
    }
    return {Verdict::admit};
}

AdmissionDecision BoundPendingMemory(std::span<const ConnectionState> open, std::size_t grower,
                                     const WebServerLimits& limits) {
    const std::size_t held =
        std::accumulate(open.begin(), open.end(), std::size_t{0},
                        [](std::size_t sum, const ConnectionState& connection) {
                            return sum + connection.bytesHeld;
                        });
    if (held <= limits.maxPendingRequestBytes) return {Verdict::admit};
    return CloseOrRefuse(OldestUnfinished(open, nullptr, grower));
}

}  // namespace tillvane
