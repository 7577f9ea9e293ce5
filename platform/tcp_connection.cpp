// What a connection to a network printer does the same way on every system.
#include "platform/tcp_connection.h"

namespace tillvane::platform {

Error TcpConnection::ApplyReadTimeout(std::chrono::milliseconds timeout) {
    // Each read waits for its bytes with this time-out; nothing to tell the socket itself.
    readTimeout_ = timeout;
    return {};
}

bool TcpConnection::isOpen() const {
    return socket_ != nullptr;
}

}  // namespace tillvane::platform
