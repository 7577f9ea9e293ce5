#pragma once
// The way of one request to REGCMD, each stage once and forward: its text read from the
// request's fields, its id admitted, its start journaled, a place in the driver queue, its run
// on the driver thread, its record journaled, and its answer sent once that record is durable
// (with the answers of the requests that waited for the same id).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/cancel_token.h"
#include "platform/error.h"
#include "requests/answer_delivery.h"
#include "requests/command_request.h"
#include "requests/driver_queue.h"
#include "requests/journal/request_journal.h"
#include "requests/receipt_holder.h"
#include "requests/request_observer.h"

namespace tillvane {

class VirtualRegister;

struct PipelineOptions {
    bool debugMode = false;  // refusals and command texts go to the logs
    int maxCommandLines = kDefaultMaxCommandLines;
    // The driver the commands run on; null when there is none. Not owned.
    VirtualRegister* driver = nullptr;
};

class RequestPipeline : public CommandSink {
  public:
    // Hands the driver the pipeline's cancel token, and takes it back on destruction.
    RequestPipeline(RequestJournal& journal, AnswerDelivery& delivery, PipelineOptions options,
                    RequestObserver& observer);
    ~RequestPipeline() override;
    RequestPipeline(const RequestPipeline&) = delete;
    RequestPipeline& operator=(const RequestPipeline&) = delete;

    // The driver queue; it stops and ends its thread before the pipeline goes.
    DriverQueue& queue() { return queue_; }

    // Takes no more requests: the waiting ones are refused, the one at the driver is cut short
    // at its next serial transfer.
    void Stop();
    // Waits for the driver thread to end; later work reaches the printer again.
    void Join();

    // A request to REGCMD; with its refusal set, refused before its text is read. The answer
    // goes out later, through `answer` (none: nobody can be answered).
    void Accept(const CommandRequest& request, std::shared_ptr<CommandAnswer> answer) override;
    // A refusal on its way out: logged in debug mode.
    std::string Refuse(std::string reply) const override;

  private:
    struct Command {
        std::string text;
        bool hexNames = false;
    };

    // A request with a valid id and a readable text.
    void AdmitWithId(std::shared_ptr<CommandAnswer> reply, Command command,
                     JournaledRequest record);
    // Reads the command text of `request` into `command`; the refusal, as its reply text, when
    // it may not run (`command` then holds as much as was read, for the journal).
    platform::Error ReadCommand(const CommandRequest& request, Command& command) const;
    // Queues the command for the driver thread, or refuses it when the queue is full.
    // `startTicket`: the journal's start record of a request with an id.
    void Submit(std::shared_ptr<CommandAnswer> reply, Command command, JournaledRequest record,
                std::uint64_t startTicket);
    // On the driver thread: runs the command, unless nobody waits for it any more.
    void Run(const Command& command, const JournaledRequest& record, std::uint64_t startTicket,
             const std::shared_ptr<CommandAnswer>& reply);
    // The reply to a command: status prefix and the interpreter's reply text.
    std::string Execute(const Command& command) const;
    // Abandons the receipt of a request that the stop cut short.
    void AbandonCutShortReceipt();
    // Journals how `request` ended and answers it, once that record is durable; with
    // `outcome.started` the requests that waited for the run of its id get the same answer,
    // each with a replay record of its own.
    void Finish(const JournaledRequest& request, const RequestOutcome& outcome,
                std::shared_ptr<CommandAnswer> reply);

    RequestJournal& journal_;
    AnswerDelivery& delivery_;
    const PipelineOptions options_;
    RequestObserver& observer_;
    // Cancelled by the stop: the driver's serial transfers then fail at once, and a run
    // learns from its refusals that it was cut short.
    platform::CancelToken cancelToken_;
    // With tokens set, the till whose receipt is open; read and written on the driver thread.
    ReceiptHolder receiptHolder_;
    DriverQueue queue_;  // last: its jobs use the rest
};

}  // namespace tillvane
