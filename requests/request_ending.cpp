#include "requests/request_ending.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tillvane {

void RequestEnding::Finish(const JournaledRequest& request, const RequestOutcome& outcome,
                           std::shared_ptr<CommandAnswer> reply) {
    observer_.Ended(request, outcome);
    // The newest record to wait for before answering; none when none was written.
    std::optional<std::uint64_t> newestRecord;
    if (const Result<std::uint64_t> recorded = journal_.Record(request, outcome); recorded.ok())
        newestRecord = recorded.value();
    std::vector<Delivery> deliveries;
    if (reply && outcome.status != 0)
        deliveries.push_back({std::move(reply), outcome.status, outcome.reply});
    if (outcome.started) {
        for (IdWaiter& waiter :
             journal_.ids().End(TillScopedRequestId(request.till, request.id), outcome.ran,
                                outcome.status, outcome.reply, outcome.outcomeUnknown)) {
            const auto* waiting = static_cast<const JournaledRequest*>(waiter.token.get());
            RequestOutcome shared = outcome;
            shared.replay = true;
            shared.ran = false;
            shared.started = false;
            shared.note.clear();
            if (waiting != nullptr) {
                observer_.Ended(*waiting, shared);
                const Result<std::uint64_t> recorded = journal_.Record(*waiting, shared);
                if (recorded.ok())
                    newestRecord = std::max(newestRecord.value_or(0), recorded.value());
            }
            if (waiter.reply && outcome.status != 0) {
                deliveries.push_back({std::move(waiter.reply), outcome.status, outcome.reply});
            }
        }
    }
    if (!deliveries.empty()) delivery_.Deliver(newestRecord, std::move(deliveries));
}

}  // namespace tillvane
