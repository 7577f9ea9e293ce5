#include "tests/support/free_port.h"

// Boost 1.74's Asio misses this include under C++20.
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/app_context.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

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

int ListenOnFreePort(const std::function<ListenOutcome(int port)>& start) {
    for (int attempt = 0; attempt < kMaxPortAttempts; ++attempt) {
        const int port = FreeTcpPort();
        if (port == 0) return 0;
        switch (start(port)) {
            case ListenOutcome::listening:
                return port;
            case ListenOutcome::portTaken:
                continue;
            case ListenOutcome::failed:
                return 0;
        }
    }
    return 0;
}

std::size_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<std::size_t>(size);
}

ListenOutcome AwaitListening(const std::string& appLogPath, std::size_t offset, int port,
                             const std::function<bool()>& running,
                             std::chrono::milliseconds timeout) {
    // Each followed by a character the port number cannot hold, so that port 808 is not
    // mistaken for 8088 in an entry written only in part.
    const std::string listening = std::string(kListeningEntry) + std::to_string(port) + ",";
    const std::string cannot = std::string(kCannotListenEntry) + std::to_string(port) + ":";
    ListenOutcome outcome = ListenOutcome::failed;
    const auto cannotListen = [&] {
        const std::string log = ReadFile(appLogPath);
        return offset < log.size() &&
               std::string_view(log).substr(offset).find(cannot) != std::string_view::npos;
    };
    WaitUntil(
        [&] {
            const std::string log = ReadFile(appLogPath);
            const std::string_view entries =
                offset < log.size() ? std::string_view(log).substr(offset) : std::string_view();
            if (entries.find(listening) != std::string_view::npos) {
                outcome = running() ? ListenOutcome::listening : ListenOutcome::failed;
                return true;
            }
            if (entries.find(cannot) != std::string_view::npos) {
                outcome = ListenOutcome::portTaken;
                return true;
            }
            return !running();
        },
        timeout);
    // A program that cannot listen ends at once: its entry may have come just before its end.
    if (outcome == ListenOutcome::failed && !running() && cannotListen()) {
        outcome = ListenOutcome::portTaken;
    }
    return outcome;
}

}  // namespace tillvane::testing
