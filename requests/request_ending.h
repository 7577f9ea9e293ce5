#pragma once
// The last stage of a request in the pipeline: how it ended goes to the journal and to the
// observer, the requests that waited for the run of its id end with it, and every answer owed
// goes to the answer delivery, which sends it once those records are durable.

#include <memory>

#include "requests/answer_delivery.h"
#include "requests/command_request.h"
#include "requests/journal/request_journal.h"
#include "requests/request_observer.h"

namespace tillvane {

class RequestEnding {
  public:
    RequestEnding(RequestJournal& journal, AnswerDelivery& delivery, RequestObserver& observer)
        : journal_(journal), delivery_(delivery), observer_(observer) {}

    // Journals how `request` ended and answers it (through `reply`; none: nobody to answer),
    // once that record is durable; with `outcome.started` the requests that waited for the run
    // of its id get the same answer, each with a replay record of its own. From any thread.
    void Finish(const JournaledRequest& request, const RequestOutcome& outcome,
                std::shared_ptr<CommandAnswer> reply);

  private:
    RequestJournal& journal_;
    AnswerDelivery& delivery_;
    RequestObserver& observer_;
};

}  // namespace tillvane
