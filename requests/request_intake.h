#pragma once
// The first stage of a request to REGCMD, on the thread that hands it over: its id read and
// checked, its command text read, its id admitted (a retry of an id already run or running
// ends here), its start journaled, and its place taken in the driver queue. A request that
// goes no further goes straight to its ending.

#include <cstdint>
#include <memory>
#include <optional>

#include "requests/command_request.h"
#include "requests/command_text_reader.h"
#include "requests/driver_queue.h"
#include "requests/journal/request_journal.h"
#include "requests/refusal_log.h"
#include "requests/request_ending.h"
#include "requests/request_observer.h"
#include "requests/request_run.h"

namespace tillvane {

class RequestIntake {
  public:
    RequestIntake(RequestJournal& journal, DriverQueue& queue, const CommandTextReader& reader,
                  const RefusalLog& refusals, RequestObserver& observer, RequestRun& run,
                  RequestEnding& ending)
        : journal_(journal),
          queue_(queue),
          reader_(reader),
          refusals_(refusals),
          observer_(observer),
          run_(run),
          ending_(ending) {}

    // A request to REGCMD; with its refusal set, refused before its text is read. The answer
    // goes out later, through `reply` (none: nobody can be answered).
    void Accept(const CommandRequest& request, std::shared_ptr<CommandAnswer> reply);

  private:
    // A request with a valid id and a readable text.
    void AdmitWithId(std::shared_ptr<CommandAnswer> reply, RequestCommand command,
                     JournaledRequest record);
    // Queues the command for the driver thread, or refuses it when the queue is full.
    // `startRecord`: the journal's start record of a request with an id; none without one.
    void Submit(std::shared_ptr<CommandAnswer> reply, RequestCommand command,
                JournaledRequest record, std::optional<std::uint64_t> startRecord);

    RequestJournal& journal_;
    DriverQueue& queue_;
    const CommandTextReader& reader_;
    const RefusalLog& refusals_;
    RequestObserver& observer_;
    RequestRun& run_;
    RequestEnding& ending_;
};

}  // namespace tillvane
