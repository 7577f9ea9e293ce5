#include "http/session.h"

#include <algorithm>
#include <stdexcept>

#include "http/server_state.h"
#include "http/web_server.h"

namespace tillvane {

namespace {

constexpr std::string_view kContinueResponse = "HTTP/1.1 100 Continue\r\n\r\n";

// An IPv4 client that reached an IPv6 socket is named by its IPv4 address.
std::string ClientAddressText(const asio::ip::address& client) {
    const bool mapped = client.is_v6() && client.to_v6().is_v4_mapped();
    return mapped ? asio::ip::make_address_v4(asio::ip::v4_mapped, client.to_v6()).to_string()
                  : client.to_string();
}

bool IsHttpParseError(const ErrorCode& error) {
    return error.category() == http::make_error_code(http::error::bad_target).category();
}

}  // namespace

Session::Session(TcpSocket socket, asio::ip::address address, std::shared_ptr<WebServerState> state)
    : socket_(std::move(socket)),
      deadlineTimer_(socket_.get_executor(), std::chrono::steady_clock::time_point::max()),
      buffer_(state->limits.maxHeaderBytes + kReadChunkBytes),
      state_(std::move(state)),
      address_(std::move(address)),
      addressText_(address_.to_string()),
      clientText_(ClientAddressText(address_)) {}

Session::~Session() {
    ReleasePendingBytes();
    if (registered_) state_->sessions.erase(entry_);
}

void Session::Start() {
    entry_ = state_->sessions.insert(state_->sessions.end(), weak_from_this());
    registered_ = true;
    // The awaiter lives as long as the session; the channel holds it as weakly as the session.
    replyChannel_ = std::make_shared<ReplyChannel>(
        socket_.get_executor(), std::shared_ptr<AnswerAwaiter>(shared_from_this(), &awaiter_));
    ReadRequest();
}

void Session::Close() {
    if (phase_ == Phase::closed) return;
    const auto keep = awaiter_.Abandon();  // this object lives to the end of Close
    phase_ = Phase::closed;
    ReleasePendingBytes();
    ErrorCode ignored;
    socket_.shutdown(TcpSocket::shutdown_both, ignored);
    socket_.close(ignored);
    deadlineTimer_.cancel();
    awaiter_.OnClosed();
    writer_.OnClosed();
}

ConnectionState Session::Describe() const {
    ConnectionPhase phase = ConnectionPhase::receiving;
    if (phase_ == Phase::handling || phase_ == Phase::awaitingReply) {
        phase = ConnectionPhase::awaitingAnswer;
    } else if (phase_ == Phase::writing) {
        phase = ConnectionPhase::answering;
    } else if (phase_ == Phase::lingering) {
        phase = ConnectionPhase::lingering;
    }
    return {addressText_, phase, readingSince_, pendingBytes_};
}

void Session::ExpireAfter(std::chrono::steady_clock::duration timeout) {
    deadline_ = std::chrono::steady_clock::now() + timeout;
    // The timer is moved only when it fires; a deadline nearer than its wait cannot wait.
    if (deadline_ < deadlineTimer_.expiry()) WaitForDeadline();
}

void Session::WaitForDeadline() {
    deadlineTimer_.expires_at(deadline_);
    // A closed connection is not kept alive by its timer.
    deadlineTimer_.async_wait([weak = weak_from_this()](const ErrorCode& error) {
        const auto self = weak.lock();
        if (self && error != asio::error::operation_aborted) self->OnDeadline();
    });
}

void Session::OnDeadline() {
    if (phase_ == Phase::closed) return;
    const auto now = std::chrono::steady_clock::now();
    // Re-armed for a nearer deadline after this wait had already ended: that wait counts.
    if (deadlineTimer_.expiry() > now) return;
    // Closing the socket ends the pending read or write with an error, as its handler expects.
    if (deadline_ <= now) return Close();
    WaitForDeadline();
}

void Session::ReadRequest() {
    phase_ = Phase::reading;
    readingSince_ = std::chrono::steady_clock::now();
    continueSent_ = false;
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(state_->limits.maxHeaderBytes));
    parser_->body_limit(static_cast<std::uint64_t>(state_->limits.maxBodyBytes));
    // One deadline for the whole request: a client that trickles its bytes gains nothing.
    ExpireAfter(state_->limits.requestTimeout);
    Parse();
}

void Session::Parse() {
    try {
        while (!parser_->is_done()) {
            if (buffer_.size() == 0) return ReadMore();
            ErrorCode error;
            const std::size_t used = parser_->put(buffer_.data(), error);
            buffer_.consume(used);
            if (error == http::error::need_more) return ReadMore();
            if (error) return OnReadError(error);
            if (parser_->is_header_done() && !parser_->is_done() && !continueSent_ &&
                beast::iequals(parser_->get()[http::field::expect], "100-continue")) {
                return SendContinue();
            }
            if (used == 0) return ReadMore();
        }
    } catch (const std::length_error&) {
        // A single header field longer than the parser can hold.
        return Refuse(http::status::request_header_fields_too_large, "request header too large");
    } catch (const std::bad_alloc&) {
        return Close();
    }
    Respond();
}

void Session::ReadMore() {
    if (!AccountPendingBytes()) {
        return Refuse(http::status::service_unavailable, "server busy");
    }
    const std::size_t room = buffer_.max_size() - buffer_.size();
    if (room == 0) {
        return Refuse(http::status::request_header_fields_too_large, "request header too large");
    }
    socket_.async_read_some(buffer_.prepare(std::min(kReadChunkBytes, room)),
                            [self = shared_from_this()](const ErrorCode& error, std::size_t bytes) {
                                self->OnRead(error, bytes);
                            });
}

void Session::OnRead(const ErrorCode& error, std::size_t bytes) {
    if (phase_ == Phase::closed) return;
    buffer_.commit(bytes);
    // A client that closes between requests, or in the middle of one, or that has not
    // sent its request in time, is simply dropped.
    if (error) return Close();
    Parse();
}

void Session::SendContinue() {
    // The client waits for leave to send its body.
    continueSent_ = true;
    asio::async_write(socket_, asio::buffer(kContinueResponse.data(), kContinueResponse.size()),
                      [self = shared_from_this()](const ErrorCode& error, std::size_t) {
                          if (self->phase_ == Phase::closed) return;
                          if (error) return self->Close();
                          self->Parse();
                      });
}

bool Session::AccountPendingBytes() {
    std::size_t held = buffer_.capacity();
    if (parser_) held += parser_->get().body().capacity();
    state_->pendingRequestBytes += held;
    state_->pendingRequestBytes -= pendingBytes_;
    pendingBytes_ = held;
    if (state_->pendingRequestBytes <= state_->limits.maxPendingRequestBytes) return true;
    return state_->EnforceMemoryBound(this);
}

void Session::ReleasePendingBytes() {
    state_->pendingRequestBytes -= pendingBytes_;
    pendingBytes_ = 0;
}

void Session::OnReadError(const ErrorCode& error) {
    if (error == http::error::header_limit || error == http::error::buffer_overflow) {
        return Refuse(http::status::request_header_fields_too_large, "request header too large");
    }
    if (error == http::error::body_limit) {
        return Refuse(http::status::payload_too_large, "request body too large");
    }
    if (!IsHttpParseError(error)) return Close();
    Refuse(http::status::bad_request, "malformed HTTP request");
}

void Session::Respond() {
    phase_ = Phase::handling;
    const auto& request = parser_->get();
    version_ = request.version();
    keepAlive_ = request.keep_alive();
    Outcome outcome;
    try {
        outcome = Handle(request);
    } catch (...) {
        // Nothing a handler throws may end the server; the client learns of the failure.
        outcome = {http::status::internal_server_error,
                   state_->refusalPrefix + "internal error",
                   {},
                   false};
        keepAlive_ = false;
    }
    // The request's bytes are not needed any more, whatever waits for its answer.
    parser_.reset();
    if (buffer_.size() == 0) buffer_.shrink_to_fit();
    ReleasePendingBytes();
    if (outcome.deferred) {
        return awaiter_.Await(replyChannel_->current(), std::move(outcome.headers));
    }
    writer_.Send(outcome.status, std::move(outcome.body), keepAlive_, outcome.headers);
}

Session::Outcome Session::Handle(const BeastRequest& request) {
    RequestRead read = ReadWebRequest(request, clientText_, state_->limits.maxPathLength);
    if (read.refusal) {
        return {static_cast<http::status>(read.refusal.status),
                state_->refusalPrefix + read.refusal.text,
                {},
                false};
    }
    if (state_->owner == nullptr || state_->shuttingDown) {
        return {http::status::service_unavailable,
                state_->refusalPrefix + "server stopping",
                {},
                false};
    }
    WebRequest& webRequest = read.request;
    const http::verb method = request.method();
    const RequestHandler& handler = method == http::verb::post      ? state_->postHandler
                                    : method == http::verb::options ? state_->optionsHandler
                                                                    : state_->getHandler;
    if (method == http::verb::options && !handler) {
        return {http::status::method_not_allowed, std::string(kMethodNotAllowedReply), {}, false};
    }
    replyChannel_->NextRequest();
    webRequest.SetReplyChannel(replyChannel_.get());
    if (handler) handler(*state_->owner, webRequest);
    return {static_cast<http::status>(webRequest.status()), webRequest.TakeResponseBody(),
            webRequest.TakeResponseHeaders(), webRequest.deferred()};
}

void Session::Refuse(http::status status, std::string_view text) {
    if (parser_ && parser_->is_header_done()) version_ = parser_->get().version();
    parser_.reset();
    ReleasePendingBytes();
    writer_.Refuse(status, text);
}

}  // namespace tillvane
