#include "http/answer_awaiter.h"

#include <algorithm>

#include "http/reply_channel.h"
#include "http/server_state.h"
#include "http/session.h"

namespace tillvane {

void AnswerAwaiter::Await(std::uint64_t request, HeaderFields headers) {
    session_.phase_ = Session::Phase::awaitingReply;
    owed_ = true;
    ++session_.state_->repliesOutstanding;
    awaited_ = request;
    headers_ = std::move(headers);
    session_.ExpireNever();
    WatchClient();
}

void AnswerAwaiter::WatchClient() {
    beast::flat_buffer& buffer = session_.buffer_;
    const std::size_t room = std::min(kMaxBytesReadAhead, buffer.max_size()) -
                             std::min(kMaxBytesReadAhead, buffer.size());
    if (room == 0) {
        // A client that sends its next requests ahead: stop looking, and keep the
        // connection alive without a pending read until the answer comes.
        heldForAnswer_ = session_.shared_from_this();
        return;
    }
    watching_ = true;
    session_.socket_.async_read_some(
        buffer.prepare(std::min(Session::kReadChunkBytes, room)),
        [self = session_.shared_from_this(), this](const ErrorCode& error, std::size_t bytes) {
            OnWatch(error, bytes);
        });
}

void AnswerAwaiter::OnWatch(const ErrorCode& error, std::size_t bytes) {
    watching_ = false;
    if (session_.phase_ == Session::Phase::closed) return;
    session_.buffer_.commit(bytes);
    if (answer_) return PassOn();
    if (error == asio::error::operation_aborted) return;
    if (error) return session_.Close();
    WatchClient();
}

void AnswerAwaiter::Take(std::uint64_t request, int status, std::string body) {
    if (session_.phase_ != Session::Phase::awaitingReply || request != awaited_ || answer_) {
        return;
    }
    answer_ = Answer{status, std::move(body)};
    if (watching_) {
        // The pending read ends now and OnWatch passes the answer on.
        ErrorCode ignored;
        session_.socket_.cancel(ignored);
        return;
    }
    PassOn();
}

void AnswerAwaiter::PassOn() {
    const auto keep = std::move(heldForAnswer_);
    Answer answer = std::move(*answer_);
    answer_.reset();
    awaited_ = 0;
    owed_ = false;  // the writer owes it now
    session_.writer_.Send(static_cast<http::status>(answer.status), std::move(answer.body),
                          session_.keepAlive_, headers_, true);
    headers_.clear();
}

std::shared_ptr<Session> AnswerAwaiter::Abandon() {
    if (awaited_ != 0) session_.replyChannel_->Abandon(awaited_);
    return std::move(heldForAnswer_);
}

void AnswerAwaiter::OnClosed() {
    session_.state_->SettleOwedReply(owed_);
}

}  // namespace tillvane
