#include "http/answer_writer.h"

#include <chrono>

#include "http/allowed_methods.h"
#include "http/server_state.h"
#include "http/session.h"

namespace tillvane {

namespace {

// Replies are single-byte texts passed on byte for byte; ISO-8859-1 maps every byte to a
// character, so no client rejects a reply as badly encoded.
constexpr std::string_view kResponseContentType = "text/plain; charset=ISO-8859-1";

// After refusing a request, the rest of what the client sends is read and dropped for a
// while before the connection closes, so that the refusal reaches the client instead of
// being lost to a connection reset.
constexpr std::chrono::milliseconds kLingerTimeout{2000};

}  // namespace

void AnswerWriter::Send(http::status status, std::string body, bool keepAlive,
                        const HeaderFields& headers, bool owed) {
    WebServerState& state = *session_.state_;
    if (state.shuttingDown) keepAlive = false;
    owed_ = owed;
    session_.phase_ = Session::Phase::writing;
    response_ = {};
    response_.version(session_.version_ == 0 ? Session::kHttp11 : session_.version_);
    response_.result(status);
    // A handler may name another type (JSON, a page); every other answer is plain text.
    bool typeGiven = false;
    for (const auto& field : headers) {
        typeGiven = typeGiven || beast::iequals(ToBeast(field.first), "Content-Type");
    }
    if (!typeGiven) response_.set(http::field::content_type, ToBeast(kResponseContentType));
    if (status == http::status::method_not_allowed) {
        response_.set(http::field::allow, ToBeast(kAllowedMethods));
    }
    for (const auto& [name, value] : headers) response_.insert(ToBeast(name), ToBeast(value));
    response_.keep_alive(keepAlive);
    response_.body() = std::move(body);
    response_.prepare_payload();
    session_.ExpireAfter(state.limits.requestTimeout);
    http::async_write(
        session_.socket_, response_,
        [self = session_.shared_from_this(), this, keepAlive](const ErrorCode& error, std::size_t) {
            if (self->phase_ == Session::Phase::closed) return;
            SettleOwed();
            if (self->phase_ == Session::Phase::closed) return;
            if (error) return self->Close();
            if (keepAlive && !self->state_->shuttingDown) {
                return self->ReadRequest();
            }
            Linger();
        });
}

void AnswerWriter::Refuse(http::status status, std::string_view text) {
    Send(status, session_.state_->refusalPrefix + std::string(text), false);
}

void AnswerWriter::SettleOwed() {
    session_.state_->SettleOwedReply(owed_);
}

void AnswerWriter::Linger() {
    session_.phase_ = Session::Phase::lingering;
    ErrorCode ignored;
    session_.socket_.shutdown(TcpSocket::shutdown_send, ignored);
    session_.ExpireAfter(kLingerTimeout);
    Drain();
}

void AnswerWriter::Drain() {
    session_.socket_.async_read_some(
        asio::buffer(drain_),
        [self = session_.shared_from_this(), this](const ErrorCode& error, std::size_t) {
            if (self->phase_ == Session::Phase::closed) return;
            if (error) return self->Close();
            Drain();
        });
}

}  // namespace tillvane
