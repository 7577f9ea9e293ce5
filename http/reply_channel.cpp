#include "http/reply_channel.h"

#include <utility>

#include "http/answer_awaiter.h"
#include "http/web_request.h"

namespace tillvane {

std::shared_ptr<PendingReply> ReplyChannel::Defer() {
    return std::make_shared<PendingReply>(shared_from_this(), current_);
}

void ReplyChannel::Post(std::uint64_t request, int status, std::string body) {
    // The awaiter is held only weakly: a connection closed meanwhile takes no answer.
    asio::post(executor_, [awaiter = awaiter_, request, status, body = std::move(body)]() mutable {
        if (auto target = awaiter.lock()) target->Take(request, status, std::move(body));
    });
}

}  // namespace tillvane
