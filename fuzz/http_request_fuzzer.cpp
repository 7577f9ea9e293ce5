// Raw bytes as one client's whole conversation with the running web front end (server, request
// handlers, driver queue and the text driver behind them), over a real loopback socket. Every
// conversation ends (the service answers or closes once the client has said all it will), and
// the till's next ordinary receipt is printed whole and alone.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "app/app_context.h"
#include "fuzz/fuzz_support.h"
#include "registers/register_host.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

using namespace tillvane;
using tillvane::fuzzing::Violated;
using namespace std::chrono_literals;

namespace {

// Longest a conversation may take once the client has sent everything: the service has no
// reason to wait for anything then, so only a service that hangs gets near it.
constexpr auto kAnswerTimeout = 10s;
constexpr auto kStartTimeout = 10s;
// The logs are emptied every so many inputs, so that a long run does not fill the disk.
constexpr int kInputsPerLog = 512;

class Socket {
  public:
    Socket() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// False, with errno set, when the connection cannot be made. A connect that a signal
// interrupts (libFuzzer's own timer) goes on in the background: its result is awaited.
bool Connect(const Socket& socket, int port) {
    const sockaddr_in address = Loopback(port);
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINTR) return false;
    pollfd watched{socket.fd(), POLLOUT, 0};
    while (::poll(&watched, 1, -1) < 0) {
        if (errno != EINTR) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    errno = error;
    return error == 0;
}

// The service as the worker runs it, on a port of its own, writing into the scratch folder.
struct Service {
    Service() {
        const auto folder = fuzzing::ScratchFolder() / "http";
        std::filesystem::create_directories(folder / "out");
        const std::string ini = (folder / "Tillvane_se.ini").string();
        receiptFile = folder / "out" / "bon.txt";
        // The host names of the seed inputs and of the till's receipt are the shop's own.
        const auto configure = [&](int candidate) {
            testing::WriteFile(ini,
                               "tcpPort=" + std::to_string(candidate) +
                                   "\r\nDebugMode=1\r\ndriverModel=SELLTEXT\r\n"
                                   "TVA_GROUPS=A:1|B:2\r\nallowedOrigins=http://pos.local\r\n"
                                   "allowedHosts=till x\r\noutputFileName=bon\r\noutputFolder=" +
                                   (folder / "out").string() + "\r\n");
        };
        configure(0);
        (void)host.Initialize(ini, "");
        // Another program may take the port between its choice and the listen: then another.
        port = testing::ListenOnFreePort([&](int candidate) {
            configure(candidate);
            context = std::make_unique<AppContext>((folder / "Tillvane_se").string());
            const std::size_t offset = testing::FileSize(context->paths().appLog);
            if (!context->Init(&host)) return testing::ListenOutcome::failed;
            const testing::ListenOutcome outcome = testing::AwaitListening(
                context->paths().appLog, offset, candidate,
                [this] { return context->serverRunning(); }, kStartTimeout);
            if (outcome != testing::ListenOutcome::listening) context.reset();
            return outcome;
        });
        if (port == 0) Violated("the service never listened");
    }
    ~Service() {
        context->RequestServerExit();
        context->WaitForServerDone(kStopAnswerGrace + kAnswerTimeout);
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    void EmptyLogs() const {
        std::error_code ignored;
        std::filesystem::remove(context->paths().appLog, ignored);
        std::filesystem::remove(context->paths().requestLog, ignored);
    }

    RegisterHost host;  // outlives the context, as in the worker
    std::unique_ptr<AppContext> context;
    std::filesystem::path receiptFile;
    int port = 0;
};

// Sends `bytes` and reads until the service closes the connection; returns what the service
// sent. `halfClose` closes the sending side first, so that the service sees that nothing more
// comes (and may take the client for gone).
std::string Converse(int port, std::string_view bytes, bool halfClose) {
    Socket socket;
    if (!Connect(socket, port)) {
        Violated(std::string("the service refused a connection: ") + std::strerror(errno));
    }
    // Closed with a reset, so that a long run does not use up the ports in TIME_WAIT.
    const linger resetOnClose{1, 0};
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
    const timeval timeout{std::chrono::seconds(kAnswerTimeout).count(), 0};
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;  // libFuzzer's own timer signal
        if (sent <= 0) return {};  // the service closed first: it refused what it had seen
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    if (halfClose) ::shutdown(socket.fd(), SHUT_WR);
    std::string answer;
    char buffer[4096];
    while (true) {
        const ssize_t received = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (received > 0) {
            answer.append(buffer, static_cast<std::size_t>(received));
            continue;
        }
        if (received < 0 && errno == EINTR) continue;
        if (received < 0 && errno == EAGAIN) Violated("the service neither answered nor closed");
        return answer;
    }
}

// The till's ordinary receipt, on a connection of its own: answered "OK|", and its file holds
// its own lines alone, whatever came before it.
constexpr std::string_view kOrdinaryReceipt =
    "POST /REGCMD HTTP/1.1\r\nHost: till\r\nContent-Type: application/x-www-form-urlencoded\r\n"
    "Content-Length: 53\r\nConnection: close\r\n\r\n"
    "CMD=BS%7CSI%5EApa%5E2.50%5E2%5EA%7CAP%5E0%5E5.00%7CES";
constexpr std::string_view kReceiptLines =
    "S,1,______,_,__;Apa;2.50;2.000;1;1;1;0;0;\nT,1,______,_,__;0;5.00;;;;\n";

void CheckOrdinaryReceipt(const Service& service) {
    const std::string answer = Converse(service.port, kOrdinaryReceipt, false);
    if (!answer.starts_with("HTTP/1.1 200") || !answer.ends_with("\r\n\r\nOK|")) {
        Violated("the till's receipt after the conversation was not printed: " + answer);
    }
    if (testing::ReadFile(service.receiptFile) != kReceiptLines) {
        Violated("the till's receipt after the conversation holds other lines");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Service service;
    static int inputs = 0;
    if (++inputs % kInputsPerLog == 0) service.EmptyLogs();
    Converse(service.port, fuzzing::AsText(data, size), true);
    CheckOrdinaryReceipt(service);
    return 0;
}
