#pragma once
// The way of one request to REGCMD, each stage once and forward: the intake (its text read
// from the request's fields, its id admitted, its start journaled, a place in the driver
// queue), its run on the driver thread, and its ending (its record journaled, its answer sent
// once that record is durable, with the answers of the requests that waited for the same id).
// The pipeline builds the stages, wires them together and stops them.

#include <memory>
#include <string>

#include "platform/cancel_token.h"
#include "requests/answer_delivery.h"
#include "requests/command_request.h"
#include "requests/command_text_reader.h"
#include "requests/driver_queue.h"
#include "requests/journal/request_journal.h"
#include "requests/pipeline_options.h"
#include "requests/refusal_log.h"
#include "requests/request_ending.h"
#include "requests/request_intake.h"
#include "requests/request_observer.h"
#include "requests/request_run.h"

namespace tillvane {

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
    const PipelineOptions options_;
    // Cancelled by the stop: the driver's serial transfers then fail at once, and a run
    // learns from its refusals that it was cut short.
    platform::CancelToken cancelToken_;
    const RefusalLog refusals_;
    RequestEnding ending_;
    RequestRun run_;
    const CommandTextReader reader_;
    RequestIntake intake_;
    DriverQueue queue_;  // last: its jobs use the rest
};

}  // namespace tillvane
