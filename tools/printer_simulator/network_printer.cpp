#include "tools/printer_simulator/network_printer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "tools/printer_simulator/frame_assembler.h"

namespace tillvane::simulator {

namespace {

// A frame that stops halfway for this long is answered with a NAK.
constexpr int kPartialFrameTimeoutMs = 500;
constexpr std::size_t kReadChunk = 256;
constexpr long kNanosecondsPerMs = 1000000L;

timespec Milliseconds(int ms) {
    return {ms / 1000, (ms % 1000) * kNanosecondsPerMs};
}

// The one connection being served.
class Connection {
  public:
    Connection() = default;
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Take(int fd) {
        Close();
        fd_ = fd;
        assembler.DropPartial();
    }
    // With `reset`, the other end learns of it as a reset rather than an orderly close.
    void Close(bool reset = false) {
        if (fd_ < 0) return;
        if (reset) {
            const linger abort{1, 0};
            setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        close(fd_);
        fd_ = -1;
    }
    bool open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // False when the other end has gone.
    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    FrameAssembler assembler;

  private:
    int fd_ = -1;
};

// Answers what arrived on `connection`; closes it when its other end went or a reply was cut.
void Answer(Connection& connection, PrinterResponder& responder, bool mute) {
    char buffer[kReadChunk];
    const ssize_t count = recv(connection.fd(), buffer, sizeof buffer, 0);
    if (count < 0 && errno == EINTR) return;
    if (count <= 0) {
        connection.Close();
        return;
    }
    if (mute) return;
    for (const ReceivedFrame& frame :
         connection.assembler.Feed(std::string_view(buffer, static_cast<std::size_t>(count)))) {
        const std::string reply = responder.Respond(frame);
        const bool sent = reply.empty() || connection.Send(reply);
        if (responder.TakeHangUp()) {
            connection.Close(/*reset=*/true);
            return;
        }
        if (!sent) {
            connection.Close();
            return;
        }
    }
}

}  // namespace

int ServeNetwork(TcpListener& listener, PrinterResponder& responder,
                 const SimulatorOptions& options, const sigset_t& waitMask,
                 const volatile sig_atomic_t& stopRequested,
                 volatile sig_atomic_t& cancelRequested) {
    // Still starting up: bound, so connections are refused rather than left unanswered.
    const auto refuseUntil =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.refuseMs);
    while (!stopRequested && std::chrono::steady_clock::now() < refuseUntil) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            refuseUntil - std::chrono::steady_clock::now());
        const timespec wait = Milliseconds(static_cast<int>(left.count()));
        ppoll(nullptr, 0, &wait, &waitMask);
    }
    if (!stopRequested && !listener.Listen()) {
        std::perror("printer_simulator: listen");
        return 1;
    }
    Connection connection;
    while (!stopRequested) {
        if (cancelRequested) {
            cancelRequested = 0;
            responder.CancelAtKeys();
        }
        pollfd entries[2] = {{listener.fd(), POLLIN, 0}, {connection.fd(), POLLIN, 0}};
        const timespec partialTimeout = Milliseconds(kPartialFrameTimeoutMs);
        const bool partial = connection.open() && connection.assembler.HasPartial();
        const int ready = ppoll(entries, connection.open() ? 2 : 1,
                                partial ? &partialTimeout : nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::perror("printer_simulator: poll");
            return 1;
        }
        if (ready == 0) {
            connection.assembler.DropPartial();
            if (!options.mute && !connection.Send(responder.RespondToPartial())) {
                connection.Close();
            }
            continue;
        }
        if (connection.open() && entries[1].revents != 0) {
            Answer(connection, responder, options.mute);
        }
        if ((entries[0].revents & POLLIN) != 0) {
            const int taken = accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (taken >= 0) connection.Take(taken);
        }
    }
    return 0;
}

}  // namespace tillvane::simulator
