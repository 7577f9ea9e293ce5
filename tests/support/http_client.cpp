#include "tests/support/http_client.h"

// Boost 1.74's Asio misses this include under C++20.
#include <utility>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>

namespace tillvane::testing {

namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

inline constexpr std::size_t kReadChunk = 16 * 1024;

std::string Lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

}  // namespace

std::string HttpResponse::Header(std::string_view name) const {
    auto found = headers.find(Lower(name));
    return found == headers.end() ? std::string() : found->second;
}

struct HttpConnection::Impl {
    asio::io_context io;
    tcp::socket socket{io};
    std::chrono::milliseconds timeout;
    std::string received;  // bytes read but not consumed yet
    bool open = false;
    bool ended = false;  // the server closed its side

    // Runs the pending operation until it completes or `deadline` passes; on time-out the
    // socket is closed, which completes the operation with an error.
    bool RunUntil(Clock::time_point deadline, const bool& done) {
        io.restart();
        io.run_until(deadline);
        if (done) return true;
        boost::system::error_code ignored;
        socket.close(ignored);
        open = false;
        io.restart();
        io.run();
        return false;
    }

    // Reads more bytes into `received`; false at the end of the connection, on error or
    // time-out (`error` says which).
    bool ReadMore(Clock::time_point deadline, std::string& error) {
        if (!open || ended) {
            error = "connection closed";
            return false;
        }
        std::array<char, kReadChunk> chunk;
        bool done = false;
        boost::system::error_code result;
        std::size_t count = 0;
        socket.async_read_some(asio::buffer(chunk),
                               [&](boost::system::error_code e, std::size_t n) {
                                   result = e;
                                   count = n;
                                   done = true;
                               });
        if (!RunUntil(deadline, done)) {
            error = "timed out";
            return false;
        }
        received.append(chunk.data(), count);
        if (result) {
            ended = true;
            error = result == asio::error::eof ? "connection closed" : result.message();
            return count > 0;
        }
        return true;
    }

    // Makes sure `received` holds at least `size` bytes.
    bool Fill(std::size_t size, Clock::time_point deadline, std::string& error) {
        while (received.size() < size) {
            if (!ReadMore(deadline, error)) return received.size() >= size;
        }
        return true;
    }

    // A line ending in CRLF, taken from `received`.
    bool TakeLine(std::string& line, Clock::time_point deadline, std::string& error) {
        std::size_t end;
        while ((end = received.find("\r\n")) == std::string::npos) {
            if (!ReadMore(deadline, error)) return false;
        }
        line = received.substr(0, end);
        received.erase(0, end + 2);
        return true;
    }

    bool ReadChunkedBody(std::string& body, Clock::time_point deadline, std::string& error) {
        for (;;) {
            std::string sizeLine;
            if (!TakeLine(sizeLine, deadline, error)) return false;
            const std::size_t size = std::strtoul(sizeLine.c_str(), nullptr, 16);
            if (size == 0) {
                std::string trailer;
                do {
                    if (!TakeLine(trailer, deadline, error)) return false;
                } while (!trailer.empty());
                return true;
            }
            if (!Fill(size + 2, deadline, error)) return false;
            body.append(received, 0, size);
            received.erase(0, size + 2);
        }
    }
};

HttpConnection::HttpConnection(int port, std::chrono::milliseconds timeout)
    : HttpConnection("127.0.0.1", port, timeout) {}

HttpConnection::HttpConnection(const std::string& host, int port, std::chrono::milliseconds timeout)
    : impl_(std::make_unique<Impl>()) {
    impl_->timeout = timeout;
    bool done = false;
    boost::system::error_code result;
    const tcp::endpoint server(asio::ip::make_address(host), static_cast<unsigned short>(port));
    impl_->socket.async_connect(server, [&](boost::system::error_code e) {
        result = e;
        done = true;
    });
    impl_->open = impl_->RunUntil(Clock::now() + timeout, done) && !result;
}

HttpConnection::~HttpConnection() {
    Close();
}

bool HttpConnection::connected() const {
    return impl_->open;
}

bool HttpConnection::Send(std::string_view bytes) {
    if (!impl_->open) return false;
    bool done = false;
    boost::system::error_code result;
    asio::async_write(impl_->socket, asio::buffer(bytes.data(), bytes.size()),
                      [&](boost::system::error_code e, std::size_t) {
                          result = e;
                          done = true;
                      });
    return impl_->RunUntil(Clock::now() + impl_->timeout, done) && !result;
}

HttpResponse HttpConnection::ReadResponse() {
    HttpResponse response;
    const auto deadline = Clock::now() + impl_->timeout;
    std::string line;
    if (!impl_->TakeLine(line, deadline, response.error)) return response;
    // "HTTP/1.1 200 OK"
    const std::size_t space = line.find(' ');
    if (line.rfind("HTTP/", 0) != 0 || space == std::string::npos) {
        response.error = "bad status line: " + line;
        return response;
    }
    const int status = std::atoi(line.c_str() + space + 1);
    for (;;) {
        if (!impl_->TakeLine(line, deadline, response.error)) return response;
        if (line.empty()) break;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        response.headers[Lower(line.substr(0, colon))] = Trim(line.substr(colon + 1));
    }
    const std::string length = response.Header("content-length");
    if ((status >= 100 && status < 200) || status == 204 || status == 304) {
        // These never carry a body.
    } else if (Lower(response.Header("transfer-encoding")).find("chunked") != std::string::npos) {
        if (!impl_->ReadChunkedBody(response.body, deadline, response.error)) return response;
    } else if (!length.empty()) {
        const std::size_t size = std::strtoul(length.c_str(), nullptr, 10);
        if (!impl_->Fill(size, deadline, response.error)) return response;
        response.body = impl_->received.substr(0, size);
        impl_->received.erase(0, size);
    } else {
        std::string ignored;
        while (impl_->ReadMore(deadline, ignored)) {
        }
        if (!impl_->ended) {
            response.error = "timed out";
            return response;
        }
        response.body = std::move(impl_->received);
        impl_->received.clear();
    }
    response.status = status;
    response.error.clear();
    return response;
}

HttpResponse HttpConnection::Get(const std::string& target) {
    Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    return ReadResponse();
}

HttpResponse HttpConnection::PostForm(const std::string& target, const std::string& body,
                                      const std::string& contentType) {
    Send("POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    return ReadResponse();
}

bool HttpConnection::WaitForClose() {
    const auto deadline = Clock::now() + impl_->timeout;
    std::string error;
    while (impl_->ReadMore(deadline, error)) {
    }
    return impl_->ended;
}

void HttpConnection::Close() {
    boost::system::error_code ignored;
    impl_->socket.shutdown(tcp::socket::shutdown_both, ignored);
    impl_->socket.close(ignored);
    impl_->open = false;
}

namespace {

HttpResponse Exchange(int port, std::string_view request) {
    HttpConnection connection(port);
    if (!connection.connected()) {
        HttpResponse refused;
        refused.error = "cannot connect";
        return refused;
    }
    connection.Send(request);
    return connection.ReadResponse();
}

}  // namespace

HttpResponse Get(int port, const std::string& target) {
    return Exchange(port,
                    "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

HttpResponse PostForm(int port, const std::string& target, const std::string& body,
                      const std::string& contentType) {
    return Exchange(port, "POST " + target +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                              "Content-Type: " +
                              contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\n\r\n" + body);
}

HttpResponse SendRaw(int port, std::string_view bytes) {
    return Exchange(port, bytes);
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

}  // namespace tillvane::testing
