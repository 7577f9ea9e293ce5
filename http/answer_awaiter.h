#pragma once
// Waits for the deferred answer of one connection's request. Internal to the server.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "http/beast.h"
#include "http/web_request.h"

namespace tillvane {

class Session;

// Waits on the pump's thread, without a deadline (the handler bounds the wait), for the
// answer a handler deferred, reading the connection meanwhile so that a client that goes away
// is noticed and its request can be dropped. The answer goes on to the connection's writer.
class AnswerAwaiter {
  public:
    explicit AnswerAwaiter(Session& session) : session_(session) {}

    // `request` (as the reply channel numbers it) is answered later, with `headers`.
    void Await(std::uint64_t request, HeaderFields headers);

    // On the pump's thread: the answer to `request`. Only the first answer to the request the
    // connection waits for is taken; any other is dropped.
    void Take(std::uint64_t request, int status, std::string body);

    // The connection closes: the awaited request is marked abandoned, so that its handler
    // may drop it. Returns what kept the connection alive while it waited unread, so that it
    // lives to the end of its closing.
    std::shared_ptr<Session> Abandon();

    // After closing: an answer still awaited is owed no more.
    void OnClosed();

  private:
    // While the answer is awaited the connection is read to notice a client that goes away;
    // bytes of a next request are kept, up to this many.
    static constexpr std::size_t kMaxBytesReadAhead = 64 * 1024;

    void WatchClient();

    void OnWatch(const ErrorCode& error, std::size_t bytes);

    void PassOn();

    struct Answer {
        int status;
        std::string body;
    };

    Session& session_;
    std::uint64_t awaited_ = 0;  // none
    HeaderFields headers_;
    std::optional<Answer> answer_;
    bool watching_ = false;
    bool owed_ = false;
    std::shared_ptr<Session> heldForAnswer_;
};

}  // namespace tillvane
