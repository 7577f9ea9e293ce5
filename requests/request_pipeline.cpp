#include "requests/request_pipeline.h"

#include <utility>

#include "registers/virtual_register.h"

namespace tillvane {

RequestPipeline::RequestPipeline(RequestJournal& journal, AnswerDelivery& delivery,
                                 PipelineOptions options, RequestObserver& observer)
    : options_(std::move(options)),
      refusals_(options_.debugMode, observer),
      ending_(journal, delivery, observer),
      run_(journal, options_, cancelToken_, refusals_, observer, ending_),
      reader_(options_, refusals_, observer),
      // The queue is built after the intake, which only keeps its address until requests come.
      intake_(journal, queue_, reader_, refusals_, observer, run_, ending_) {
    // The stop cancels the token; the driver's serial transfers read it.
    if (VirtualRegister* driver = options_.driver) {
        driver->SetCancelToken(&cancelToken_);
    }
}

RequestPipeline::~RequestPipeline() {
    if (VirtualRegister* driver = options_.driver) {
        driver->SetCancelToken(nullptr);
    }
}

void RequestPipeline::Accept(const CommandRequest& request, std::shared_ptr<CommandAnswer> answer) {
    intake_.Accept(request, std::move(answer));
}

void RequestPipeline::Stop() {
    queue_.Stop();
    cancelToken_.Cancel();
}

void RequestPipeline::Join() {
    queue_.Join();
    // The stop cancelled the serial transfers for the driver thread, which has ended.
    cancelToken_.Reset();
}

std::string RequestPipeline::Refuse(std::string reply) const {
    return refusals_.Refuse(std::move(reply));
}

}  // namespace tillvane
