// The parts of a request that reach through the connection's reply channel.

#include "http/web_request.h"

#include "http/reply_channel.h"

namespace tillvane {

void PendingReply::Send(int status, std::string body) {
    if (sent_.exchange(true)) return;
    channel_->Post(request_, status, std::move(body));
}

bool PendingReply::clientGone() const {
    return channel_->abandoned(request_);
}

std::shared_ptr<PendingReply> WebRequest::Defer() {
    if (replyChannel_ == nullptr) return nullptr;
    deferred_ = true;
    return replyChannel_->Defer();
}

}  // namespace tillvane
