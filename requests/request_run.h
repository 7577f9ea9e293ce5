#pragma once
// A request's turn at the driver, on the driver thread: run only when someone still waits for
// it, only once its start record is durable, only when the receipt it would touch is its
// till's; cut short by the stop, its receipt is abandoned. Then it goes on to its ending.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/cancel_token.h"
#include "requests/command_request.h"
#include "requests/command_text_reader.h"
#include "requests/journal/request_journal.h"
#include "requests/pipeline_options.h"
#include "requests/receipt_holder.h"
#include "requests/refusal_log.h"
#include "requests/request_ending.h"
#include "requests/request_observer.h"

namespace tillvane {

class RequestRun {
  public:
    // `cancelToken`: the one the stop cancels and the driver's serial transfers read.
    RequestRun(RequestJournal& journal, const PipelineOptions& options,
               platform::CancelToken& cancelToken, const RefusalLog& refusals,
               RequestObserver& observer, RequestEnding& ending)
        : journal_(journal),
          options_(options),
          cancelToken_(cancelToken),
          refusals_(refusals),
          observer_(observer),
          ending_(ending) {}

    // On the driver thread: runs the command, unless nobody waits for it any more.
    // `startRecord`: the journal's start record of a request with an id; none without one.
    void Run(const RequestCommand& command, const JournaledRequest& record,
             std::optional<std::uint64_t> startRecord, const std::shared_ptr<CommandAnswer>& reply);

  private:
    // The reply to a command: status prefix and the interpreter's reply text.
    std::string Execute(const RequestCommand& command) const;
    // Abandons the receipt of a request that the stop cut short.
    void AbandonCutShortReceipt();

    RequestJournal& journal_;
    const PipelineOptions& options_;
    platform::CancelToken& cancelToken_;
    const RefusalLog& refusals_;
    RequestObserver& observer_;
    RequestEnding& ending_;
    // With tokens set, the till whose receipt is open; read and written on the driver thread.
    ReceiptHolder receiptHolder_;
};

}  // namespace tillvane
