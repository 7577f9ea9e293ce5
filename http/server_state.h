#pragma once
// What the server and its sessions share: the listening socket, the limits and handlers, the
// live sessions and the tallies the caps and the shutdown need. Internal to the server.

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "http/beast.h"
#include "http/web_server.h"

namespace tillvane {

class Session;

struct WebServerState : std::enable_shared_from_this<WebServerState> {
    WebServerState(asio::io_context& context, const WebServerLimits& serverLimits)
        : acceptor(context), retryTimer(context), graceTimer(context), limits(serverLimits) {}

    void Accept();
    void OnAccepted(const ErrorCode& error, TcpSocket socket);
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
    // A deferred answer that `owed` marks as owed is written, or its connection closed: the
    // shutdown waits for one less. Does nothing when `owed` is false; clears it.
    void SettleOwedReply(bool& owed);
    // Runs the shutdown's `done` callback, once.
    void RunWhenQuiet();
    void CloseAll();

    TcpAcceptor acceptor;
    asio::steady_timer retryTimer;
    asio::steady_timer graceTimer;
    WebServerLimits limits;
    WebServer* owner = nullptr;  // null once the server is being destroyed
    RequestHandler postHandler;
    RequestHandler getHandler;
    RequestHandler optionsHandler;               // none: OPTIONS is not allowed
    std::string refusalPrefix;                   // before the server's own refusals
    std::list<std::weak_ptr<Session>> sessions;  // to close them all with the server
    std::size_t pendingRequestBytes = 0;         // held by requests still being received
    std::size_t repliesOutstanding = 0;          // deferred answers not written yet
    bool shuttingDown = false;
    std::function<void()> whenQuiet;
    int port = 0;
};

}  // namespace tillvane
