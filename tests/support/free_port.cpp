#include "tests/support/free_port.h"

// Boost 1.74's Asio misses this include under C++20.
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace tillvane::testing {

int FreeTcpPort() {
    namespace asio = boost::asio;
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io);
    boost::system::error_code error;
    const asio::ip::tcp::endpoint any(asio::ip::address_v4::loopback(), 0);
    acceptor.open(any.protocol(), error);
    if (!error) acceptor.bind(any, error);
    if (error) return 0;
    return acceptor.local_endpoint(error).port();
}

}  // namespace tillvane::testing
