#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include "platform/posix/unique_fd.h"
#include "platform/tcp_connection.h"

namespace tillvane::platform {

namespace {

// Bytes taken from the connection per call while dropping what arrived unread.
constexpr std::size_t kDiscardChunk = 256;

Error ClosedByPeer() {
    return Error(ECONNRESET, "the printer closed the connection");
}

// Milliseconds left until `deadline`, never below 0.
int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Waits for `events` on `fd` up to `timeoutMs`; the revents, 0 after the time-out, -1 when
// poll failed (errno says why).
int PollFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int ready = 0;
    do {
        ready = poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return -1;
    return ready == 0 ? 0 : entry.revents;
}

// A non-blocking connect to `address`, waited for until `deadline`.
Error ConnectOne(const addrinfo& address, std::chrono::steady_clock::time_point deadline,
                 UniqueFd& connected) {
    UniqueFd fd(socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                       address.ai_protocol));
    if (!fd.valid()) return LastSystemError();
    if (connect(fd.get(), address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) return LastSystemError();
        const int revents = PollFor(fd.get(), POLLOUT, RemainingMs(deadline));
        if (revents < 0) return LastSystemError();
        if (revents == 0) return SystemError(ETIMEDOUT);
        int failure = 0;
        socklen_t length = sizeof failure;
        if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0) {
            return LastSystemError();
        }
        if (failure != 0) return SystemError(failure);
    }
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return LastSystemError();
    const int on = 1;
    const int idle = static_cast<int>(kKeepAliveIdle.count());
    const int interval = static_cast<int>(kKeepAliveInterval.count());
    const int probes = kKeepAliveProbes;
    if (setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
        setsockopt(fd.get(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
        setsockopt(fd.get(), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        setsockopt(fd.get(), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
        setsockopt(fd.get(), IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) != 0) {
        return LastSystemError();
    }
    connected = std::move(fd);
    return {};
}

}  // namespace

struct TcpConnection::Socket {
    UniqueFd fd;
};

TcpConnection::TcpConnection() = default;
TcpConnection::~TcpConnection() = default;

Error TcpConnection::Connect(const std::string& host, std::uint16_t port,
                             std::chrono::milliseconds timeout) {
    Close();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        return resolved == EAI_SYSTEM ? LastSystemError() : Error(resolved, gai_strerror(resolved));
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    Error failure = SystemError(EADDRNOTAVAIL);
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        UniqueFd fd;
        failure = ConnectOne(*address, deadline, fd);
        if (failure.ok()) {
            socket_ = std::make_unique<Socket>(Socket{std::move(fd)});
            return {};
        }
        if (RemainingMs(deadline) == 0) break;
    }
    return failure;
}

void TcpConnection::Close() {
    socket_.reset();
}

Error TcpConnection::Write(std::string_view bytes) {
    if (!socket_) return SystemError(EBADF);
    while (!bytes.empty()) {
        // A printer that closed its end must not end this program with SIGPIPE.
        const ssize_t written = send(socket_->fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR) continue;
            return LastSystemError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

std::optional<char> TcpConnection::ReadByte(Error& error) {
    error = {};
    if (!socket_) {
        error = SystemError(EBADF);
        return std::nullopt;
    }
    const int revents = PollFor(socket_->fd.get(), POLLIN, static_cast<int>(readTimeout_.count()));
    if (revents < 0) {
        error = LastSystemError();
        return std::nullopt;
    }
    if (revents == 0) return std::nullopt;  // the time-out passed
    char byte = 0;
    ssize_t count = 0;
    do {
        count = recv(socket_->fd.get(), &byte, 1, 0);
    } while (count < 0 && errno == EINTR);
    if (count == 1) return byte;
    error = count < 0 ? LastSystemError() : ClosedByPeer();
    return std::nullopt;
}

void TcpConnection::DiscardInput() {
    if (!socket_) return;
    char buffer[kDiscardChunk];
    // A closed or failed connection is left for the next transfer to find.
    while (PollFor(socket_->fd.get(), POLLIN, /*timeoutMs=*/0) > 0 &&
           recv(socket_->fd.get(), buffer, sizeof buffer, MSG_DONTWAIT | MSG_PEEK) > 0) {
        if (recv(socket_->fd.get(), buffer, sizeof buffer, MSG_DONTWAIT) <= 0) break;
    }
}

// The printer's end closed or reset shows as a readable connection with nothing to read, or
// as its half closed: bytes it sent before closing are no sign of life.
Error TcpConnection::CheckLine() {
    if (!socket_) return SystemError(EBADF);
    const int revents = PollFor(socket_->fd.get(), POLLIN | POLLRDHUP, /*timeoutMs=*/0);
    if (revents < 0) return LastSystemError();
    if (revents == 0) return {};
    if ((revents & POLLERR) != 0) {
        int failure = 0;
        socklen_t length = sizeof failure;
        getsockopt(socket_->fd.get(), SOL_SOCKET, SO_ERROR, &failure, &length);
        if (failure != 0) return SystemError(failure);
    }
    if ((revents & POLLRDHUP) != 0) return ClosedByPeer();
    char byte = 0;
    const ssize_t count = recv(socket_->fd.get(), &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    if (count > 0) return {};
    if (count == 0) return ClosedByPeer();
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {};
    return LastSystemError();
}

}  // namespace tillvane::platform
