#include "status/request_counting.h"

#include <chrono>

#include "requests/journal/request_journal.h"
#include "requests/replies.h"
#include "status/recent_requests.h"
#include "status/service_status.h"

namespace tillvane {

void CountRequest(ServiceStatus& status, const JournaledRequest& request,
                  const RequestOutcome& outcome) {
    if (outcome.replay) {
        status.CountReplay();
    } else if (!outcome.ran) {
        status.CountRequest(RequestResult::refused);
    } else {
        status.CountRequest(outcome.reply.starts_with(kReplySuccessPrefix) ? RequestResult::ok
                                                                           : RequestResult::error,
                            std::chrono::steady_clock::now() - request.received);
    }
    const bool printerAnswered =
        outcome.ran && !outcome.replay && outcome.reply.starts_with(kReplySuccessPrefix);
    status.RecordRecent(RecentRequestOf(request, outcome), printerAnswered);
}

}  // namespace tillvane
