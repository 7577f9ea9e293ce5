#include "http/web_server.h"

#include <algorithm>
#include <vector>

#include "http/admission_policy.h"
#include "http/beast.h"
#include "http/event_pump.h"
#include "http/server_state.h"
#include "http/session.h"

namespace tillvane {

namespace {

// Pause before accepting again when accepting failed (e.g. out of file descriptors).
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

}  // namespace

void WebServerState::Accept() {
    acceptor.async_accept([self = shared_from_this()](const ErrorCode& error, TcpSocket socket) {
        self->OnAccepted(error, std::move(socket));
    });
}

void WebServerState::OnAccepted(const ErrorCode& error, TcpSocket socket) {
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

void WebServerState::SettleOwedReply(bool& owed) {
    if (!owed) return;
    owed = false;
    --repliesOutstanding;
    CheckQuiet();
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

void WebServer::OnOptions(RequestHandler handler) {
    state_->optionsHandler = std::move(handler);
}

void WebServer::SetRefusalPrefix(std::string prefix) {
    state_->refusalPrefix = std::move(prefix);
}

namespace {

// A refusal of the system in its own words (Asio's would be "Unknown error" for Winsock codes
// on systems without their texts), marked where the caller acts on it.
platform::Error SocketError(const ErrorCode& error) {
    const platform::ErrorKind kind =
        error == asio::error::address_in_use                  ? platform::ErrorKind::nameTaken
        : error == boost::system::errc::address_not_available ? platform::ErrorKind::nameMissing
                                                              : platform::ErrorKind::other;
    return platform::Error(error.value(), platform::SystemErrorText(error.value()), kind);
}

}  // namespace

platform::Error WebServer::Host(int port) {
    return Host(std::string(kEveryIpv4Address), port);
}

platform::Error WebServer::Host(const std::string& address, int port) {
    if (state_->acceptor.is_open()) {
        return platform::Error::Message("the server is already listening");
    }
    if (port <= 0 || port > kMaxTcpPort) return platform::Error::Message("not a valid TCP port");
    ErrorCode error;
    const asio::ip::address listenAddress = asio::ip::make_address(address, error);
    if (error) return platform::Error::Message("not an IP address: " + address);
    const tcp::endpoint endpoint(listenAddress, static_cast<unsigned short>(port));
    state_->acceptor.open(endpoint.protocol(), error);
    // "::" takes IPv4 clients too, as IPv4-mapped addresses.
    if (!error && listenAddress.is_v6() && listenAddress.is_unspecified()) {
        state_->acceptor.set_option(asio::ip::v6_only(false), error);
    }
#ifndef _WIN32
    // Lets a restarted service listen again while old connections linger in TIME_WAIT. (On
    // Windows the option would let another program take over the port.)
    if (!error) state_->acceptor.set_option(TcpAcceptor::reuse_address(true), error);
#endif
    if (!error) state_->acceptor.bind(endpoint, error);
    if (!error) state_->acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        ErrorCode ignored;
        state_->acceptor.close(ignored);
        return SocketError(error);
    }
    state_->port = port;
    state_->Accept();
    return {};
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
