#pragma once
// The one way into Boost.Beast and Asio for the server's files, with the names they share.

// Boost 1.74's Asio misses this include under C++20 (std::exchange in awaitable.hpp): it must
// come before the first Boost header, so every file includes Beast through this one. Beast is
// slow to compile: only the server's own files include it.
#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <string_view>

namespace tillvane {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
// Sockets bound to the pump's own executor type: the type-erased default costs a copy and a
// destruction of the executor at every step of every request.
using PumpExecutor = asio::io_context::executor_type;
using TcpSocket = asio::basic_stream_socket<tcp, PumpExecutor>;
using TcpAcceptor = asio::basic_socket_acceptor<tcp, PumpExecutor>;
using PumpTimer =
    asio::basic_waitable_timer<std::chrono::steady_clock,
                               asio::wait_traits<std::chrono::steady_clock>, PumpExecutor>;

inline std::string_view ToStd(beast::string_view text) {
    return {text.data(), text.size()};
}
inline beast::string_view ToBeast(std::string_view text) {
    return {text.data(), text.size()};
}

}  // namespace tillvane
