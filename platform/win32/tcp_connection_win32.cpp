// A printer on the network through Winsock: blocking sockets, with select for every wait.

// Lean windows.h leaves the sockets out: Winsock's headers come after it, in this order.
#include "platform/win32/windows_api.h"
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
// clang-format on

#include <algorithm>
#include <utility>

#include "platform/tcp_connection.h"
#include "platform/win32/windows_error.h"

namespace tillvane::platform {

namespace {

// The Winsock version asked for.
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr std::size_t kDiscardChunk = 256;
constexpr long kMicrosecondsPerMs = 1000;

Error WinsockError(int code) {
    return Error(code, WindowsErrorText(static_cast<std::uint32_t>(code)));
}

Error LastWinsockError() {
    return WinsockError(::WSAGetLastError());
}

Error ClosedByPeer() {
    return Error(WSAECONNRESET, "the printer closed the connection");
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

// Waits up to `timeoutMs` for `socket` to be readable (or, with `forWrite`, writable); 1 when it
// is, 0 after the time-out, SOCKET_ERROR on failure. A failed connect counts as ready.
int WaitFor(SOCKET socket, bool forWrite, int timeoutMs) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * kMicrosecondsPerMs};
    return ::select(/*nfds=*/0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr,
                    forWrite ? &failed : nullptr, &wait);
}

// Owns one socket and closes it.
class ScopedSocket {
  public:
    explicit ScopedSocket(SOCKET socket = INVALID_SOCKET) : socket_(socket) {}
    ~ScopedSocket() {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    }
    ScopedSocket(ScopedSocket&& other) noexcept
        : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}
    ScopedSocket& operator=(ScopedSocket&& other) noexcept {
        std::swap(socket_, other.socket_);
        return *this;
    }
    ScopedSocket(const ScopedSocket&) = delete;
    ScopedSocket& operator=(const ScopedSocket&) = delete;

    SOCKET get() const { return socket_; }
    bool valid() const { return socket_ != INVALID_SOCKET; }

  private:
    SOCKET socket_;
};

// Winsock stays started while one of these lives; the system counts the starts.
class WinsockSession {
  public:
    WinsockSession() : started_(::WSAStartup(kWinsockVersion, &data_) == 0) {}
    ~WinsockSession() {
        if (started_) ::WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    bool started() const { return started_; }

  private:
    WSADATA data_{};
    bool started_;
};

}  // namespace

// The socket is closed before Winsock stops.
struct TcpConnection::Socket {
    WinsockSession session;
    ScopedSocket handle;
};

TcpConnection::TcpConnection() = default;
TcpConnection::~TcpConnection() = default;

namespace {

// Switches on what every printer connection needs. False, with the failure in WSAGetLastError,
// when the system refuses one of them.
bool TuneForPrinter(SOCKET socket) {
    const BOOL on = TRUE;
    if (::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                     sizeof on) != 0) {
        return false;
    }
    tcp_keepalive keepAlive{};
    keepAlive.onoff = 1;
    keepAlive.keepalivetime = static_cast<ULONG>(std::chrono::milliseconds(kKeepAliveIdle).count());
    keepAlive.keepaliveinterval =
        static_cast<ULONG>(std::chrono::milliseconds(kKeepAliveInterval).count());
    DWORD returned = 0;
    if (::WSAIoctl(socket, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive,
                   /*lpvOutBuffer=*/nullptr, /*cbOutBuffer=*/0, &returned,
                   /*lpOverlapped=*/nullptr, /*lpCompletionRoutine=*/nullptr) == 0) {
        return true;
    }
    // Systems without the finer setting still probe, at their own pace.
    return ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on),
                        sizeof on) == 0;
}

Error ConnectOne(const addrinfo& address, std::chrono::steady_clock::time_point deadline,
                 ScopedSocket& connected) {
    ScopedSocket owned(::socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    if (!owned.valid()) return LastWinsockError();
    const SOCKET socket = owned.get();
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) return LastWinsockError();
    if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return LastWinsockError();
        const int ready = WaitFor(socket, /*forWrite=*/true, RemainingMs(deadline));
        if (ready == SOCKET_ERROR) return LastWinsockError();
        if (ready == 0) return WinsockError(WSAETIMEDOUT);
        int failure = 0;
        int length = sizeof failure;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure),
                         &length) != 0) {
            return LastWinsockError();
        }
        if (failure != 0) return WinsockError(failure);
    }
    u_long blocking = 0;
    if (::ioctlsocket(socket, FIONBIO, &blocking) != 0 || !TuneForPrinter(socket)) {
        return LastWinsockError();
    }
    connected = std::move(owned);
    return {};
}

}  // namespace

Error TcpConnection::Connect(const std::string& host, std::uint16_t port,
                             std::chrono::milliseconds timeout) {
    Close();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto socket = std::make_unique<Socket>();
    if (!socket->session.started()) return LastWinsockError();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) return WinsockError(resolved);
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
    Error failure = WinsockError(WSAEADDRNOTAVAIL);
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        failure = ConnectOne(*address, deadline, socket->handle);
        if (failure.ok()) {
            socket_ = std::move(socket);
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
    if (!socket_) return WinsockError(WSAENOTSOCK);
    while (!bytes.empty()) {
        const int written = ::send(socket_->handle.get(), bytes.data(),
                                   static_cast<int>(bytes.size()), /*flags=*/0);
        if (written == SOCKET_ERROR) return LastWinsockError();
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

std::optional<char> TcpConnection::ReadByte(Error& error) {
    error = {};
    if (!socket_) {
        error = WinsockError(WSAENOTSOCK);
        return std::nullopt;
    }
    const int ready =
        WaitFor(socket_->handle.get(), /*forWrite=*/false, static_cast<int>(readTimeout_.count()));
    if (ready == SOCKET_ERROR) {
        error = LastWinsockError();
        return std::nullopt;
    }
    if (ready == 0) return std::nullopt;  // the time-out passed
    char byte = 0;
    const int count = ::recv(socket_->handle.get(), &byte, 1, /*flags=*/0);
    if (count == 1) return byte;
    error = count == SOCKET_ERROR ? LastWinsockError() : ClosedByPeer();
    return std::nullopt;
}

void TcpConnection::DiscardInput() {
    if (!socket_) return;
    char buffer[kDiscardChunk];
    u_long waiting = 0;
    // A closed or failed connection is left for the next transfer to find.
    while (::ioctlsocket(socket_->handle.get(), FIONREAD, &waiting) == 0 && waiting > 0) {
        const int chunk = static_cast<int>(std::min<u_long>(waiting, sizeof buffer));
        if (::recv(socket_->handle.get(), buffer, chunk, /*flags=*/0) <= 0) break;
    }
}

// The printer's end closed or reset shows as a readable connection with nothing to read.
Error TcpConnection::CheckLine() {
    if (!socket_) return WinsockError(WSAENOTSOCK);
    const int ready = WaitFor(socket_->handle.get(), /*forWrite=*/false, /*timeoutMs=*/0);
    if (ready == SOCKET_ERROR) return LastWinsockError();
    if (ready == 0) return {};
    char byte = 0;
    const int count = ::recv(socket_->handle.get(), &byte, 1, MSG_PEEK);
    if (count > 0) return {};
    if (count == 0) return ClosedByPeer();
    return LastWinsockError();
}

}  // namespace tillvane::platform
