#include "web/web_server.h"

// Boost 1.74's Asio misses this include under C++20 (std::exchange in awaitable.hpp). This is
// the one file that includes Beast: keep it so, Beast is slow to compile.
#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <list>
#include <optional>

#include "web/event_pump.h"
#include "web/form_decoding.h"
#include "web/web_request.h"

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
        : acceptor(context), retryTimer(context), limits(serverLimits) {}

    void Accept();
    void OnAccepted(const ErrorCode& error, tcp::socket socket);
    void CloseAll();

    tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    WebServerLimits limits;
    WebServer* owner = nullptr;  // null once the server is being destroyed
    RequestHandler postHandler;
    RequestHandler getHandler;
    std::list<std::weak_ptr<Session>> sessions;  // to close them all with the server
    int port = 0;
};

// One connection: reads requests one after the other, answers each, and closes on error,
// on time-out, or when either side does not keep the connection alive.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, std::shared_ptr<WebServerState> state)
        : stream_(std::move(socket)), state_(std::move(state)) {}

    ~Session() {
        if (registered_) state_->sessions.erase(entry_);
    }

    void Start() {
        entry_ = state_->sessions.insert(state_->sessions.end(), weak_from_this());
        registered_ = true;
        ReadHeader();
    }

    void Close() {
        ErrorCode ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

  private:
    void ReadHeader() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(state_->limits.maxHeaderBytes));
        parser_->body_limit(static_cast<std::uint64_t>(state_->limits.maxBodyBytes));
        stream_.expires_after(state_->limits.idleTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](const ErrorCode& error, std::size_t) {
                                    self->OnHeader(error);
                                });
    }

    void OnHeader(const ErrorCode& error) {
        if (error) return OnReadError(error);
        if (parser_->is_done()) return Respond();
        const auto& request = parser_->get();
        if (beast::iequals(request[http::field::expect], "100-continue")) {
            // The client waits for leave to send its body.
            stream_.expires_after(state_->limits.idleTimeout);
            asio::async_write(
                stream_, asio::buffer(kContinueResponse.data(), kContinueResponse.size()),
                [self = shared_from_this()](const ErrorCode& writeError, std::size_t) {
                    if (writeError) return self->Close();
                    self->ReadBody();
                });
            return;
        }
        ReadBody();
    }

    void ReadBody() {
        stream_.expires_after(state_->limits.idleTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](const ErrorCode& error, std::size_t) {
                             if (error) return self->OnReadError(error);
                             self->Respond();
                         });
    }

    void OnReadError(const ErrorCode& error) {
        if (error == http::error::header_limit || error == http::error::buffer_overflow) {
            return Refuse(
                {http::status::request_header_fields_too_large, "request header too large"});
        }
        if (error == http::error::body_limit) {
            return Refuse({http::status::payload_too_large, "request body too large"});
        }
        // A client that closes between requests, or in the middle of one, or that stays
        // silent past the time-out, is simply dropped.
        if (error == http::error::end_of_stream || error == http::error::partial_message ||
            !IsHttpParseError(error)) {
            return Close();
        }
        Refuse({http::status::bad_request, "malformed HTTP request"});
    }

    void Respond() {
        try {
            const auto& request = parser_->get();
            const bool keepAlive = request.keep_alive();
            std::optional<Refusal> refusal;
            http::status status = http::status::ok;
            std::string body = Handle(request, status, refusal);
            if (refusal) {
                return Send(refusal->status, std::string(refusal->text), keepAlive);
            }
            Send(status, std::move(body), keepAlive);
        } catch (...) {
            // Nothing a handler throws may end the server; the client learns of the failure.
            Send(http::status::internal_server_error, "internal error", false);
        }
    }

    // Runs the handler for `request` and gives the response body and `status`, or sets
    // `refusal`.
    std::string Handle(const http::request<http::string_body>& request, http::status& status,
                       std::optional<Refusal>& refusal) {
        const bool isPost = request.method() == http::verb::post;
        if (!isPost && request.method() != http::verb::get) {
            refusal = Refusal{http::status::method_not_allowed, "method not allowed"};
            return {};
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
            refusal = Refusal{http::status::bad_request, "malformed request target"};
            return {};
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
            refusal = Refusal{http::status::bad_request, "invalid percent-encoding"};
            return {};
        }
        if (path.size() > state_->limits.maxPathLength) {
            refusal = Refusal{http::status::uri_too_long, "request path too long"};
            return {};
        }
        std::optional<std::string> bodyNotAFormType;
        if (isPost && !ParseForm(request, form, bodyNotAFormType, refusal)) return {};

        const RequestHandler& handler = isPost ? state_->postHandler : state_->getHandler;
        if (state_->owner == nullptr) {
            refusal = Refusal{http::status::service_unavailable, "server stopping"};
            return {};
        }
        WebRequest webRequest(std::move(path), std::move(query), std::move(form));
        if (bodyNotAFormType) webRequest.MarkBodyNotAForm(std::move(*bodyNotAFormType));
        if (handler) handler(*state_->owner, webRequest);
        status = static_cast<http::status>(webRequest.status());
        return webRequest.responseBody();
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

    void Send(http::status status, std::string body, bool keepAlive) {
        const unsigned version = parser_ ? parser_->get().version() : kHttp11;
        response_ = {};
        response_.version(version == 0 ? kHttp11 : version);
        response_.result(status);
        response_.set(http::field::content_type, ToBeast(kResponseContentType));
        if (status == http::status::method_not_allowed) {
            response_.set(http::field::allow, ToBeast(kAllowedMethods));
        }
        response_.keep_alive(keepAlive);
        response_.body() = std::move(body);
        response_.prepare_payload();
        stream_.expires_after(state_->limits.idleTimeout);
        http::async_write(
            stream_, response_,
            [self = shared_from_this(), keepAlive](const ErrorCode& error, std::size_t) {
                if (error) return self->Close();
                if (keepAlive) return self->ReadHeader();
                self->Linger();
            });
    }

    // Refuses what could not be read as a request and closes the connection afterwards.
    void Refuse(const Refusal& refusal) {
        if (parser_ && !parser_->is_header_done()) parser_.reset();
        Send(refusal.status, std::string(refusal.text), false);
    }

    // Closes our side for sending, then drops what the client still sends until it closes
    // too or the linger time has passed.
    void Linger() {
        ErrorCode ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(kLingerTimeout);
        Drain();
    }

    void Drain() {
        stream_.async_read_some(asio::buffer(drain_),
                                [self = shared_from_this()](const ErrorCode& error, std::size_t) {
                                    if (error) return self->Close();
                                    self->Drain();
                                });
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
    std::array<char, kDrainChunkBytes> drain_{};
    std::shared_ptr<WebServerState> state_;
    std::list<std::weak_ptr<Session>>::iterator entry_;
    bool registered_ = false;
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
    if (sessions.size() >= limits.maxConnections) {
        ErrorCode ignored;
        socket.close(ignored);
    } else {
        std::make_shared<Session>(std::move(socket), shared_from_this())->Start();
    }
    Accept();
}

void WebServerState::CloseAll() {
    ErrorCode ignored;
    acceptor.close(ignored);
    retryTimer.cancel();
    for (const auto& entry : sessions) {
        if (auto session = entry.lock()) session->Close();
    }
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
    if (state_->acceptor.is_open()) {
        failureReason = "the server is already listening";
        return false;
    }
    if (port <= 0 || port > kMaxPort) {
        failureReason = "not a valid TCP port";
        return false;
    }
    const tcp::endpoint endpoint(tcp::v4(), static_cast<unsigned short>(port));
    ErrorCode error;
    state_->acceptor.open(endpoint.protocol(), error);
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

}  // namespace tillvane
