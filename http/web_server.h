#pragma once
// A small HTTP/1.1 server driven by an EventPump: keep-alive connections, query strings and
// urlencoded or multipart forms, and limits that refuse what does not fit with a clear HTTP
// error. Handlers run one at a time on the thread that runs the pump; one that cannot answer
// at once defers its answer (WebRequest::Defer) and the loop serves others meanwhile.
//
// No single client can take the server away from the others: a request must arrive whole
// within a time limit, one address may hold only some of the connections, and the memory
// that unfinished requests hold together is bounded. When a cap is reached, the oldest
// connection that has not sent a complete request is closed to admit the new one.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace tillvane {

class EventPump;
class WebRequest;
class WebServer;
struct WebServerState;

inline constexpr std::string_view kEveryIpv4Address = "0.0.0.0";
// The answer (405) to a method the server, or the handler of the path, does not serve.
inline constexpr std::string_view kMethodNotAllowedReply = "method not allowed";
inline constexpr int kMaxTcpPort = 65535;

// Default limits. Whoever hosts the server may set others in WebServerLimits.
inline constexpr std::size_t kDefaultMaxHeaderBytes = 8 * 1024;  // request line and header
inline constexpr std::size_t kDefaultMaxBodyBytes = 1024 * 1024;
// The longest a client may take to send one whole request (header and body, counted from the
// end of the previous answer on the connection), or to take one response. Past it the
// connection is closed.
inline constexpr std::chrono::milliseconds kDefaultRequestTimeout{10000};
// Longest decoded request path, leading "/" not counted.
inline constexpr std::size_t kDefaultMaxPathLength = 4096;
// Connections open at once, from all clients and from one client address.
inline constexpr std::size_t kDefaultMaxConnections = 256;
inline constexpr std::size_t kDefaultMaxConnectionsPerAddress = 16;
// Memory that all requests still being received may hold together (their buffered header
// bytes and bodies); beyond it the oldest unfinished ones are closed.
inline constexpr std::size_t kDefaultMaxPendingRequestBytes = 16 * 1024 * 1024;

struct WebServerLimits {
    std::size_t maxHeaderBytes = kDefaultMaxHeaderBytes;  // larger: 431
    std::size_t maxBodyBytes = kDefaultMaxBodyBytes;      // larger: 413
    std::chrono::milliseconds requestTimeout = kDefaultRequestTimeout;
    std::size_t maxPathLength = kDefaultMaxPathLength;  // longer: 414
    std::size_t maxConnections = kDefaultMaxConnections;
    std::size_t maxConnectionsPerAddress = kDefaultMaxConnectionsPerAddress;
    std::size_t maxPendingRequestBytes = kDefaultMaxPendingRequestBytes;
};

// A handler answers through WebRequest::Write; what it writes is sent with status 200, or
// with the status it set through WebRequest::SetStatus. A POST body that is not a form reaches
// the handler without fields, marked as such (WebRequest::bodyIsNotAForm).
using RequestHandler = std::function<void(WebServer& server, WebRequest& request)>;

class WebServer {
  public:
    explicit WebServer(EventPump& pump, const WebServerLimits& limits = {});
    // Closes the listening socket and every connection. Destroy the server on the thread that
    // ran the pump, after its loop has returned, and before the pump.
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    void OnPost(RequestHandler handler);
    void OnGet(RequestHandler handler);
    // A browser's preflight (OPTIONS) goes here; without this handler it is answered 405.
    void OnOptions(RequestHandler handler);
    // Put before the text of every refusal the server answers by itself (a request it cannot
    // read, too large, a method it does not serve), so that a client that tells failures by
    // their first characters recognises these too. Empty by default.
    void SetRefusalPrefix(std::string prefix);

    // Listens on `port` of every IPv4 address; connections are served once the pump runs.
    // Fails when the port cannot be opened: with the system's code and words when the system
    // refused, marked nameTaken when the port is in use and nameMissing when the address is
    // not one of this machine's.
    platform::Error Host(int port);
    // Listens on `port` of `address` ("127.0.0.1"; "::" for every IPv6 and IPv4 address).
    platform::Error Host(const std::string& address, int port);
    // The port listened on; 0 before a successful Host.
    int port() const;

    // Stops accepting and closes every connection that waits for no answer; `done` runs on
    // the pump's thread once every deferred answer has been written (or its client has gone),
    // or after `grace` at the latest. Call on the pump's thread.
    void BeginShutdown(std::chrono::milliseconds grace, std::function<void()> done);

  private:
    std::shared_ptr<WebServerState> state_;
};

}  // namespace tillvane
