#pragma once
// How the deferred answers of one connection come back to it. Internal to the server.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "http/beast.h"

namespace tillvane {

class AnswerAwaiter;
class PendingReply;

// Made once per connection and carried by every request the connection reads: a handler that
// cannot answer at once takes a PendingReply from it. Whatever thread sends that reply, the
// answer reaches the connection's AnswerAwaiter on the pump's thread, tagged with the request
// it answers, so that a late answer to an earlier request never passes for a later one's.
class ReplyChannel : public std::enable_shared_from_this<ReplyChannel> {
  public:
    ReplyChannel(PumpExecutor executor, std::weak_ptr<AnswerAwaiter> awaiter)
        : executor_(std::move(executor)), awaiter_(std::move(awaiter)) {}

    // On the pump's thread: a new request goes to its handler; replies taken from now on
    // answer it.
    std::uint64_t NextRequest() { return ++current_; }
    std::uint64_t current() const { return current_; }
    // On the pump's thread, from the handler of the current request.
    std::shared_ptr<PendingReply> Defer();

    // From any thread: the answer to `request`, passed on on the pump's thread unless the
    // connection has gone by then.
    void Post(std::uint64_t request, int status, std::string body);

    // The client went away while it waited for the answer to `request`.
    void Abandon(std::uint64_t request) { abandoned_ = request; }
    bool abandoned(std::uint64_t request) const { return abandoned_ == request; }

  private:
    PumpExecutor executor_;
    std::weak_ptr<AnswerAwaiter> awaiter_;
    std::uint64_t current_ = 0;  // requests are counted from 1
    std::atomic<std::uint64_t> abandoned_{0};
};

}  // namespace tillvane
