// The yardstick for the service's HTTP figures: the least a Beast keep-alive server on one
// event-loop thread can do per request. "plain" answers at once; "file" first writes one small
// file the way the text driver publishes a receipt (a new temporary file, fsync, a move that
// replaces nothing, fsync of the folder), so the difference to the service is its own work.
//
//   bare_beast_server PORT plain
//   bare_beast_server PORT file FOLDER

#include <utility>  // before Boost: Asio 1.74 under C++20 misses it

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "platform/durable_file.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

constexpr std::string_view kAnswer = "OK|";
constexpr std::string_view kFileContent =
    "S,1,______,_,__;Apa;2.50;2.000;1;1;1;0;0;\nT,1,______,_,__;0;5.00;;;;\n";

struct Mode {
    bool writeFile = false;
    std::string folder;
    unsigned long long written = 0;
};

// One file published with the platform calls the text driver uses; false when any step
// failed.
bool PublishFile(Mode& mode) {
    const std::string number = std::to_string(++mode.written);
    const std::string temporary = mode.folder + "/.bench-" + number + ".tmp";
    const std::string final = mode.folder + "/BENCH_" + number + ".txt";
    namespace platform = tillvane::platform;
    platform::NewFile file;
    return file.Create(temporary).ok() && file.Write(kFileContent).ok() &&
           file.FlushToDisk().ok() && file.Close().ok() &&
           platform::MoveWithoutReplacing(temporary, final).ok() &&
           platform::FlushFolder(mode.folder).ok();
}

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Mode& mode) : socket_(std::move(socket)), mode_(mode) {}
    void Read() {
        request_ = {};
        http::async_read(socket_, buffer_, request_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             if (!error) self->Answer();
                         });
    }

  private:
    void Answer() {
        const bool ok = !mode_.writeFile || PublishFile(mode_);
        response_ = {ok ? http::status::ok : http::status::internal_server_error,
                     request_.version()};
        response_.set(http::field::content_type, "text/plain");
        response_.keep_alive(request_.keep_alive());
        response_.body() = ok ? kAnswer : "ERR|file";
        response_.prepare_payload();
        http::async_write(socket_, response_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (!error && self->response_.keep_alive()) self->Read();
                          });
    }

    tcp::socket socket_;
    Mode& mode_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> request_;
    http::response<http::string_body> response_;
};

void Accept(tcp::acceptor& acceptor, Mode& mode) {
    acceptor.async_accept([&acceptor, &mode](beast::error_code error, tcp::socket socket) {
        if (!error) std::make_shared<Session>(std::move(socket), mode)->Read();
        Accept(acceptor, mode);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: bare_beast_server PORT plain|file [FOLDER]\n";
        return 2;
    }
    Mode mode;
    mode.writeFile = std::string(argv[2]) == "file";
    if (mode.writeFile) {
        if (argc < 4) {
            std::cerr << "file mode needs a FOLDER\n";
            return 2;
        }
        mode.folder = argv[3];
    }
    asio::io_context context;
    tcp::acceptor acceptor(context,
                           {asio::ip::make_address("127.0.0.1"),
                            static_cast<unsigned short>(std::strtoul(argv[1], nullptr, 10))});
    Accept(acceptor, mode);
    context.run();
    return 0;
}
