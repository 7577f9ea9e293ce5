#include "tools/printer_simulator/tcp_listener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace tillvane::simulator {

namespace {

// Connections waiting to be taken.
constexpr int kBacklog = 4;

}  // namespace

TcpListener::~TcpListener() {
    if (fd_ >= 0) close(fd_);
}

bool TcpListener::Bind(const std::string& address, std::string& error) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        error = "--tcp needs HOST:PORT, not " + address;
        return false;
    }
    host_ = address.substr(0, colon);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int resolved =
        getaddrinfo(host_.c_str(), address.substr(colon + 1).c_str(), &hints, &found);
    if (resolved != 0) {
        error = "cannot use " + address + ": " + gai_strerror(resolved);
        return false;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    fd_ = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    const int on = 1;
    // A printer switched off and on takes its port back at once.
    if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd_, found->ai_addr, found->ai_addrlen) != 0) {
        error = "cannot listen on " + address;
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        error = "cannot listen on " + address;
        return false;
    }
    port_ = ntohs(bound.sin_port);
    return true;
}

bool TcpListener::Listen() {
    return listen(fd_, kBacklog) == 0;
}

std::string TcpListener::PortName() const {
    return "tcp://" + host_ + ":" + std::to_string(port_);
}

}  // namespace tillvane::simulator
