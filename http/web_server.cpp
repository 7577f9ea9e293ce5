#include "http/web_server.h"

// Boost 1.74's Asio misses this include under C++20 (std::exchange in awaitable.hpp). This is
// the one file that includes Beast: keep it so, Beast is slow to compile.
#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <list>
#include <optional>
#include <stdexcept>
#include <vector>

#include "http/admission_policy.h"
#include "http/event_pump.h"
#include "http/form_decoding.h"
#include "http/web_request.h"

namespace tillvane {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;
using ErrorCode = boost::system::error_code;

namespace {

// Replies are single-byte texts passed on byte for byte; ISO-8859-1 maps every byte to a
// character, so no client rejects a reply as badly encoded.
constexpr std::string_view kResponseContentType = "text/plain; charset=ISO-8859-1";
constexpr std::string_view kUrlEncodedForm = "application/x-www-form-urlencoded";
constexpr std::string_view kMultipartForm = "multipart/form-data";
constexpr std::string_view kContinueResponse = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr std::string_view kAllowedMethods = "GET, POST";

// After refusing a request, the rest of what the client sends is read and dropped for a
// while before the connection closes, so that the refusal reaches the client instead of
// being lost to a connection reset.
constexpr std::chrono::milliseconds kLingerTimeout{2000};
constexpr std::size_t kDrainChunkBytes = 16 * 1024;
// Pause before accepting again when accepting failed (e.g. out of file descriptors).
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};
constexpr int kMaxPort = 65535;
constexpr unsigned kHttp11 = 11;

struct Refusal {
    http::status status;
    std::string_view text;
};

std::string_view ToStd(beast::string_view text) {
    return {text.data(), text.size()};
}
beast::string_view ToBeast(std::string_view text) {
    return {text.data(), text.size()};
}

bool IsHttpParseError(const ErrorCode& error) {
    return error.category() == http::make_error_code(http::error::bad_target).category();
}

}  // namespace

class Session;

struct WebServerState : std::enable_shared_from_this<WebServerState> {
    WebServerState(asio::io_context& context, const WebServerLimits& serverLimits)
        : acceptor(context), retryTimer(context), graceTimer(context), limits(serverLimits) {}

    void Accept();
    void OnAccepted(const ErrorCode& error, tcp::socket socket);
    // Makes room for one more connection from `address`; false when every connection that
    // could give way is busy with a complete request.
    bool MakeRoomFor(const std::string& address);
    // Closes the oldest unfinished requests other than `current` until the memory that
    // unfinished requests hold fits the bound again. False when `current` alone is too much.
    bool EnforceMemoryBound(const Session* current);
    // The live sessions (those that may give way only, when asked), copied: closing one may
    // take it off the list.
    std::vector<std::shared_ptr<Session>> LiveSessions(bool mayGiveWayOnly) const;
    void CheckQuiet();
    // Runs the shutdown's `done` callback, once.
    void RunWhenQuiet();
    void CloseAll();

    tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    asio::steady_timer graceTimer;
    WebServerLimits limits;
    WebServer* owner = nullptr;  // null once the server is being destroyed
    RequestHandler postHandler;
    RequestHandler getHandler;
    std::list<std::weak_ptr<Session>> sessions;  // to close them all with the server
    std::size_t pendingRequestBytes = 0;         // held by requests still being received
    std::size_t repliesOutstanding = 0;          // deferred answers not written yet
    bool shuttingDown = false;
    std::function<void()> whenQuiet;
    int port = 0;
};

// One connection: reads requests one after the other, answers each (at once or once its
// deferred answer comes), and closes on error, on time-out, or when either side does not keep
// the connection alive.
class Session : public std::enable_shared_from_this<Session> {
  public:
    enum class Phase { reading, handling, awaitingReply, writing, lingering, closed };

    Session(tcp::socket socket, asio::ip::address address, std::shared_ptr<WebServerState> state)
        : stream_(std::move(socket)),
          buffer_(state->limits.maxHeaderBytes + kReadChunkBytes),
          state_(std::move(state)),
          address_(std::move(address)),
          addressText_(address_.to_string()) {}

    ~Session() {
        ReleasePendingBytes();
        if (registered_) state_->sessions.erase(entry_);
    }

    void Start() {
        entry_ = state_->sessions.insert(state_->sessions.end(), weak_from_this());
        registered_ = true;
        ReadRequest();
    }

    void Close() {
        if (phase_ == Phase::closed) return;
        const auto keep = std::move(heldForAnswer_);  // this object lives to the end of Close
        phase_ = Phase::closed;
        ReleasePendingBytes();
        if (pendingReply_) pendingReply_->MarkClientGone();
        ErrorCode ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
        FinishOutstanding();
    }

    Phase phase() const { return phase_; }
    // A connection that has sent no complete request it waits an answer for.
    bool mayGiveWay() const { return phase_ == Phase::reading || phase_ == Phase::lingering; }
    // What the admission policy weighs of an open connection.
    ConnectionState Describe() const {
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

  private:
    // Bytes read from the socket at a time; unfinished requests grow by at most this much
    // before the memory bound is checked again.
    static constexpr std::size_t kReadChunkBytes = 16 * 1024;
    // While a deferred answer is awaited the connection is read to notice a client that goes
    // away; bytes of a next request are kept, up to this many.
    static constexpr std::size_t kMaxBytesReadAhead = 64 * 1024;

    void ReadRequest() {
        phase_ = Phase::reading;
        readingSince_ = std::chrono::steady_clock::now();
        continueSent_ = false;
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(state_->limits.maxHeaderBytes));
        parser_->body_limit(static_cast<std::uint64_t>(state_->limits.maxBodyBytes));
        // One deadline for the whole request: a client that trickles its bytes gains nothing.
        stream_.expires_after(state_->limits.requestTimeout);
        Parse();
    }

    // Feeds the buffered bytes to the parser and reads more until the request is complete.
    void Parse() {
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
            return Refuse(
                {http::status::request_header_fields_too_large, "request header too large"});
        } catch (const std::bad_alloc&) {
            return Close();
        }
        Respond();
    }

    void ReadMore() {
        if (!AccountPendingBytes()) {
            return Refuse({http::status::service_unavailable, "server busy"});
        }
        const std::size_t room = buffer_.max_size() - buffer_.size();
        if (room == 0) {
            return Refuse(
                {http::status::request_header_fields_too_large, "request header too large"});
        }
        stream_.async_read_some(
            buffer_.prepare(std::min(kReadChunkBytes, room)),
            [self = shared_from_this()](const ErrorCode& error, std::size_t bytes) {
                self->OnRead(error, bytes);
            });
    }

    void OnRead(const ErrorCode& error, std::size_t bytes) {
        if (phase_ == Phase::closed) return;
        buffer_.commit(bytes);
        // A client that closes between requests, or in the middle of one, or that has not
        // sent its request in time, is simply dropped.
        if (error) return Close();
        Parse();
    }

    void SendContinue() {
        // The client waits for leave to send its body.
        continueSent_ = true;
        asio::async_write(stream_, asio::buffer(kContinueResponse.data(), kContinueResponse.size()),
                          [self = shared_from_this()](const ErrorCode& error, std::size_t) {
                              if (self->phase_ == Phase::closed) return;
                              if (error) return self->Close();
                              self->Parse();
                          });
    }

    // Updates what this unfinished request holds in the server's tally. False when it alone
    // exceeds the memory bound.
    bool AccountPendingBytes() {
        std::size_t held = buffer_.capacity();
        if (parser_) held += parser_->get().body().capacity();
        state_->pendingRequestBytes += held;
        state_->pendingRequestBytes -= pendingBytes_;
        pendingBytes_ = held;
        if (state_->pendingRequestBytes <= state_->limits.maxPendingRequestBytes) return true;
        return state_->EnforceMemoryBound(this);
    }

    void ReleasePendingBytes() {
        state_->pendingRequestBytes -= pendingBytes_;
        pendingBytes_ = 0;
    }

    void OnReadError(const ErrorCode& error) {
        if (error == http::error::header_limit || error == http::error::buffer_overflow) {
            return Refuse(
                {http::status::request_header_fields_too_large, "request header too large"});
        }
        if (error == http::error::body_limit) {
            return Refuse({http::status::payload_too_large, "request body too large"});
        }
        if (!IsHttpParseError(error)) return Close();
        Refuse({http::status::bad_request, "malformed HTTP request"});
    }

    void Respond() {
        phase_ = Phase::handling;
        const auto& request = parser_->get();
        version_ = request.version();
        keepAlive_ = request.keep_alive();
        Outcome outcome;
        try {
            outcome = Handle(request);
        } catch (...) {
            // Nothing a handler throws may end the server; the client learns of the failure.
            outcome = {http::status::internal_server_error, "internal error", {}, nullptr};
            keepAlive_ = false;
        }
        // The request's bytes are not needed any more, whatever waits for its answer.
        parser_.reset();
        if (buffer_.size() == 0) buffer_.shrink_to_fit();
        ReleasePendingBytes();
        if (outcome.deferred) return AwaitReply(std::move(outcome));
        Send(outcome.status, std::move(outcome.body), keepAlive_, outcome.headers);
    }

    struct Outcome {
        http::status status = http::status::ok;
        std::string body;
        HeaderFields headers;
        std::shared_ptr<PendingReply> deferred;
    };

    Outcome Handle(const http::request<http::string_body>& request) {
        const auto refuse = [](http::status status, std::string_view text) {
            return Outcome{status, std::string(text), {}, nullptr};
        };
        const bool isPost = request.method() == http::verb::post;
        if (!isPost && request.method() != http::verb::get) {
            return refuse(http::status::method_not_allowed, "method not allowed");
        }
        std::string_view target = ToStd(request.target());
        if (target.starts_with("http://") || target.starts_with("https://")) {
            // Absolute form: drop the scheme and the authority.
            const std::size_t authority = target.find("//") + 2;
            const std::size_t pathStart = target.find('/', authority);
            target = pathStart == std::string_view::npos ? std::string_view("/")
                                                         : target.substr(pathStart);
        }
        if (!target.starts_with('/')) {
            return refuse(http::status::bad_request, "malformed request target");
        }
        const std::size_t questionMark = target.find('?');
        std::string path;
        FormFields query;
        FormFields form;
        if (!PercentDecode(
                target.substr(1, questionMark == std::string_view::npos ? std::string_view::npos
                                                                        : questionMark - 1),
                false, path) ||
            (questionMark != std::string_view::npos &&
             !ParseUrlEncoded(target.substr(questionMark + 1), query))) {
            return refuse(http::status::bad_request, "invalid percent-encoding");
        }
        if (path.size() > state_->limits.maxPathLength) {
            return refuse(http::status::uri_too_long, "request path too long");
        }
        std::optional<std::string> bodyNotAFormType;
        std::optional<Refusal> refusal;
        if (isPost && !ParseForm(request, form, bodyNotAFormType, refusal)) {
            return refuse(refusal->status, refusal->text);
        }

        const RequestHandler& handler = isPost ? state_->postHandler : state_->getHandler;
        if (state_->owner == nullptr || state_->shuttingDown) {
            return refuse(http::status::service_unavailable, "server stopping");
        }
        WebRequest webRequest(std::move(path), std::move(query), std::move(form));
        // An IPv4 client that reached an IPv6 socket is named by its IPv4 address.
        const bool mapped = address_.is_v6() && address_.to_v6().is_v4_mapped();
        webRequest.SetClientAddress(
            mapped ? asio::ip::make_address_v4(asio::ip::v4_mapped, address_.to_v6()).to_string()
                   : address_.to_string());
        if (bodyNotAFormType) webRequest.MarkBodyNotAForm(std::move(*bodyNotAFormType));
        for (const auto& field : request) {
            webRequest.AddHeader(std::string(ToStd(field.name_string())),
                                 std::string(ToStd(field.value())));
        }
        webRequest.OfferDeferral([this] { return MakePendingReply(); });
        if (handler) handler(*state_->owner, webRequest);
        return {static_cast<http::status>(webRequest.status()), webRequest.responseBody(),
                webRequest.responseHeaders(), webRequest.pendingReply()};
    }

    // The answer comes through the pump: from whatever thread it is sent, it is written on
    // the pump's thread, and not at all when the connection has gone by then. Whoever holds
    // the reply must send it (or drop it) before the pump is destroyed.
    std::shared_ptr<PendingReply> MakePendingReply() {
        return std::make_shared<PendingReply>(
            [weak = weak_from_this(), executor = stream_.get_executor()](int status,
                                                                         std::string body) {
                asio::post(executor, [weak, status, body = std::move(body)]() mutable {
                    if (auto self = weak.lock()) self->OnDeferredReply(status, std::move(body));
                });
            });
    }

    // Reads the fields of a form body into `form`. A non-empty body of any other type is left
    // unread and its media type put in `bodyNotAFormType`; an empty body is simply no fields.
    static bool ParseForm(const http::request<http::string_body>& request, FormFields& form,
                          std::optional<std::string>& bodyNotAFormType,
                          std::optional<Refusal>& refusal) {
        const std::string_view contentType = ToStd(request[http::field::content_type]);
        const std::string mediaType = MediaTypeOf(contentType);
        if (mediaType == kUrlEncodedForm) {
            if (ParseUrlEncoded(request.body(), form)) return true;
            refusal = Refusal{http::status::bad_request, "invalid percent-encoding"};
            return false;
        }
        if (mediaType == kMultipartForm) {
            if (ParseMultipartForm(request.body(), HeaderParameter(contentType, "boundary"),
                                   form)) {
                return true;
            }
            refusal = Refusal{http::status::bad_request, "malformed multipart form"};
            return false;
        }
        if (!request.body().empty()) bodyNotAFormType = mediaType;
        return true;
    }

    // Waits for the deferred answer without a deadline (the handler bounds the wait), reading
    // meanwhile so that a client that goes away is noticed and its request can be dropped.
    void AwaitReply(Outcome outcome) {
        phase_ = Phase::awaitingReply;
        countsAsOutstanding_ = true;
        ++state_->repliesOutstanding;
        pendingReply_ = std::move(outcome.deferred);
        replyHeaders_ = std::move(outcome.headers);
        stream_.expires_never();
        WatchClient();
    }

    void WatchClient() {
        const std::size_t room = std::min(kMaxBytesReadAhead, buffer_.max_size()) -
                                 std::min(kMaxBytesReadAhead, buffer_.size());
        if (room == 0) {
            // A client that sends its next requests ahead: stop looking, and keep the
            // connection alive without a pending read until the answer comes.
            heldForAnswer_ = shared_from_this();
            return;
        }
        watching_ = true;
        stream_.async_read_some(
            buffer_.prepare(std::min(kReadChunkBytes, room)),
            [self = shared_from_this()](const ErrorCode& error, std::size_t bytes) {
                self->OnWatch(error, bytes);
            });
    }

    void OnWatch(const ErrorCode& error, std::size_t bytes) {
        watching_ = false;
        if (phase_ == Phase::closed) return;
        buffer_.commit(bytes);
        if (answer_) return SendDeferredAnswer();
        if (error == asio::error::operation_aborted) return;
        if (error) {
            if (pendingReply_) pendingReply_->MarkClientGone();
            return Close();
        }
        WatchClient();
    }

    void OnDeferredReply(int status, std::string body) {
        if (phase_ != Phase::awaitingReply || answer_) return;
        answer_ = Answer{status, std::move(body)};
        if (watching_) {
            // The pending read ends now and OnWatch sends the answer.
            ErrorCode ignored;
            stream_.socket().cancel(ignored);
            return;
        }
        SendDeferredAnswer();
    }

    void SendDeferredAnswer() {
        const auto keep = std::move(heldForAnswer_);
        Answer answer = std::move(*answer_);
        answer_.reset();
        pendingReply_.reset();
        Send(static_cast<http::status>(answer.status), std::move(answer.body), keepAlive_,
             replyHeaders_);
        replyHeaders_.clear();
    }

    void FinishOutstanding() {
        if (!countsAsOutstanding_) return;
        countsAsOutstanding_ = false;
        --state_->repliesOutstanding;
        state_->CheckQuiet();
    }

    void Send(http::status status, std::string body, bool keepAlive,
              const HeaderFields& headers = {}) {
        if (state_->shuttingDown) keepAlive = false;
        phase_ = Phase::writing;
        response_ = {};
        response_.version(version_ == 0 ? kHttp11 : version_);
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
        stream_.expires_after(state_->limits.requestTimeout);
        http::async_write(
            stream_, response_,
            [self = shared_from_this(), keepAlive](const ErrorCode& error, std::size_t) {
                if (self->phase_ == Phase::closed) return;
                self->FinishOutstanding();
                if (self->phase_ == Phase::closed) return;
                if (error) return self->Close();
                if (keepAlive && !self->state_->shuttingDown) return self->ReadRequest();
                self->Linger();
            });
    }

    // Refuses what could not be read as a request and closes the connection afterwards.
    void Refuse(const Refusal& refusal) {
        if (parser_ && parser_->is_header_done()) version_ = parser_->get().version();
        parser_.reset();
        ReleasePendingBytes();
        Send(refusal.status, std::string(refusal.text), false);
    }

    // Closes our side for sending, then drops what the client still sends until it closes
    // too or the linger time has passed.
    void Linger() {
        phase_ = Phase::lingering;
        ErrorCode ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(kLingerTimeout);
        Drain();
    }

    void Drain() {
        stream_.async_read_some(asio::buffer(drain_),
                                [self = shared_from_this()](const ErrorCode& error, std::size_t) {
                                    if (self->phase_ == Phase::closed) return;
                                    if (error) return self->Close();
                                    self->Drain();
                                });
    }

    struct Answer {
        int status;
        std::string body;
    };

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
    std::array<char, kDrainChunkBytes> drain_{};
    std::shared_ptr<WebServerState> state_;
    asio::ip::address address_;
    std::string addressText_;
    std::list<std::weak_ptr<Session>>::iterator entry_;
    bool registered_ = false;
    Phase phase_ = Phase::reading;
    std::chrono::steady_clock::time_point readingSince_;
    std::size_t pendingBytes_ = 0;
    bool continueSent_ = false;
    unsigned version_ = kHttp11;
    bool keepAlive_ = false;
    std::shared_ptr<PendingReply> pendingReply_;
    HeaderFields replyHeaders_;
    std::optional<Answer> answer_;
    bool watching_ = false;
    bool countsAsOutstanding_ = false;
    std::shared_ptr<Session> heldForAnswer_;
};

void WebServerState::Accept() {
    acceptor.async_accept([self = shared_from_this()](const ErrorCode& error, tcp::socket socket) {
        self->OnAccepted(error, std::move(socket));
    });
}

void WebServerState::OnAccepted(const ErrorCode& error, tcp::socket socket) {
    if (error == asio::error::operation_aborted || !acceptor.is_open()) return;
    if (error) {
        // Out of descriptors or memory: try again shortly instead of spinning.
        retryTimer.expires_after(kAcceptRetryDelay);
        retryTimer.async_wait([self = shared_from_this()](const ErrorCode& waitError) {
            if (!waitError) self->Accept();
        });
        return;
    }
    ErrorCode peerError;
    const tcp::endpoint peer = socket.remote_endpoint(peerError);
    if (peerError || !MakeRoomFor(peer.address().to_string())) {
        ErrorCode ignored;
        socket.close(ignored);
    } else {
        std::make_shared<Session>(std::move(socket), peer.address(), shared_from_this())->Start();
    }
    Accept();
}

namespace {

// The open connections and what the admission policy weighs of each, in the same order.
struct OpenConnections {
    std::vector<std::shared_ptr<Session>> sessions;
    std::vector<ConnectionState> states;
};

OpenConnections DescribeOpen(const std::vector<std::shared_ptr<Session>>& live) {
    OpenConnections open;
    for (const auto& session : live) {
        if (session->phase() == Session::Phase::closed) continue;
        open.sessions.push_back(session);
        open.states.push_back(session->Describe());
    }
    return open;
}

}  // namespace

bool WebServerState::MakeRoomFor(const std::string& address) {
    for (;;) {
        const OpenConnections open = DescribeOpen(LiveSessions(false));
        const AdmissionDecision decision = AdmitNewcomer(open.states, address, limits);
        if (decision.verdict != AdmissionDecision::Verdict::close) {
            return decision.verdict == AdmissionDecision::Verdict::admit;
        }
        open.sessions[decision.victim]->Close();
    }
}

bool WebServerState::EnforceMemoryBound(const Session* current) {
    for (;;) {
        const OpenConnections open = DescribeOpen(LiveSessions(false));
        const auto found =
            std::find_if(open.sessions.begin(), open.sessions.end(),
                         [current](const auto& session) { return session.get() == current; });
        const AdmissionDecision decision = BoundPendingMemory(
            open.states, static_cast<std::size_t>(found - open.sessions.begin()), limits);
        if (decision.verdict != AdmissionDecision::Verdict::close) {
            return decision.verdict == AdmissionDecision::Verdict::admit;
        }
        open.sessions[decision.victim]->Close();
    }
}

std::vector<std::shared_ptr<Session>> WebServerState::LiveSessions(bool mayGiveWayOnly) const {
    std::vector<std::shared_ptr<Session>> live;
    for (const auto& entry : sessions) {
        auto session = entry.lock();
        if (session && (!mayGiveWayOnly || session->mayGiveWay()))
            live.push_back(std::move(session));
    }
    return live;
}

void WebServerState::CheckQuiet() {
    if (shuttingDown && repliesOutstanding == 0) RunWhenQuiet();
}

void WebServerState::RunWhenQuiet() {
    if (!whenQuiet) return;
    auto done = std::move(whenQuiet);
    whenQuiet = nullptr;
    graceTimer.cancel();
    done();
}

void WebServerState::CloseAll() {
    ErrorCode ignored;
    acceptor.close(ignored);
    retryTimer.cancel();
    graceTimer.cancel();
    whenQuiet = nullptr;
    for (const auto& session : LiveSessions(false)) session->Close();
}

WebServer::WebServer(EventPump& pump, const WebServerLimits& limits)
    : state_(std::make_shared<WebServerState>(pump.context(), limits)) {
    state_->owner = this;
}

WebServer::~WebServer() {
    state_->owner = nullptr;
    state_->CloseAll();
}

void WebServer::OnPost(RequestHandler handler) {
    state_->postHandler = std::move(handler);
}

void WebServer::OnGet(RequestHandler handler) {
    state_->getHandler = std::move(handler);
}

bool WebServer::Host(int port, std::string& failureReason) {
    return Host(std::string(kEveryIpv4Address), port, failureReason);
}

bool WebServer::Host(const std::string& address, int port, std::string& failureReason) {
    if (state_->acceptor.is_open()) {
        failureReason = "the server is already listening";
        return false;
    }
    if (port <= 0 || port > kMaxPort) {
        failureReason = "not a valid TCP port";
        return false;
    }
    ErrorCode error;
    const asio::ip::address listenAddress = asio::ip::make_address(address, error);
    if (error) {
        failureReason = "not an IP address: " + address;
        return false;
    }
    const tcp::endpoint endpoint(listenAddress, static_cast<unsigned short>(port));
    state_->acceptor.open(endpoint.protocol(), error);
    // "::" takes IPv4 clients too, as IPv4-mapped addresses.
    if (!error && listenAddress.is_v6() && listenAddress.is_unspecified()) {
        state_->acceptor.set_option(asio::ip::v6_only(false), error);
    }
#ifndef _WIN32
    // Lets a restarted service listen again while old connections linger in TIME_WAIT. (On
    // Windows the option would let another program take over the port.)
    if (!error) state_->acceptor.set_option(tcp::acceptor::reuse_address(true), error);
#endif
    if (!error) state_->acceptor.bind(endpoint, error);
    if (!error) state_->acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        failureReason = error.message();
        ErrorCode ignored;
        state_->acceptor.close(ignored);
        return false;
    }
    state_->port = port;
    state_->Accept();
    return true;
}

int WebServer::port() const {
    return state_->port;
}

void WebServer::BeginShutdown(std::chrono::milliseconds grace, std::function<void()> done) {
    // A second request to stop changes nothing: the first one's grace keeps running.
    if (state_->shuttingDown) return;
    state_->shuttingDown = true;
    ErrorCode ignored;
    state_->acceptor.close(ignored);
    state_->retryTimer.cancel();
    for (const auto& session : state_->LiveSessions(true)) session->Close();
    state_->whenQuiet = std::move(done);
    state_->graceTimer.expires_after(grace);
    state_->graceTimer.async_wait([state = state_](const ErrorCode& error) {
        if (!error) state->RunWhenQuiet();
    });
    state_->CheckQuiet();
}

}  // namespace tillvane
