// printer_simulator: a fiscal receipt printer on a pseudo-terminal, a serial device or TCP.

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/printer_simulator/frame_assembler.h"
#include "tools/printer_simulator/journal.h"
#include "tools/printer_simulator/network_printer.h"
#include "tools/printer_simulator/printer_responder.h"
#include "tools/printer_simulator/pseudo_terminal.h"
#include "tools/printer_simulator/serial_device.h"
#include "tools/printer_simulator/simulator_options.h"

namespace {

using namespace tillvane::simulator;

// A frame that stops halfway for this long is answered with a NAK.
constexpr int kPartialFrameTimeoutMs = 500;
// While the line is hung up, look again after this long.
constexpr int kHangUpRetryMs = 100;
constexpr std::size_t kReadChunk = 256;

volatile sig_atomic_t stopRequested = 0;
// SIGUSR1 stands for the cashier's cancel key.
volatile sig_atomic_t cancelRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

void RequestCancel(int) {
    cancelRequested = 1;
}

// SIGTERM and SIGINT only end the wait in ppoll, so that no request is cut in half.
bool InstallStopSignals(sigset_t& waitMask) {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGUSR1);
    if (sigprocmask(SIG_BLOCK, &stopSignals, &waitMask) != 0) return false;
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGUSR1);
    struct sigaction cancel = action;
    cancel.sa_handler = RequestCancel;
    return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0 &&
           sigaction(SIGUSR1, &cancel, nullptr) == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

int Serve(int fd, PrinterResponder& responder, const sigset_t& waitMask) {
    FrameAssembler assembler;
    while (!stopRequested) {
        if (cancelRequested) {
            cancelRequested = 0;
            responder.CancelAtKeys();
        }
        pollfd entry{fd, POLLIN, 0};
        const timespec partialTimeout{0, kPartialFrameTimeoutMs * 1000000L};
        const int ready =
            ppoll(&entry, 1, assembler.HasPartial() ? &partialTimeout : nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::perror("printer_simulator: poll");
            return 1;
        }
        if (ready == 0) {
            assembler.DropPartial();
            WriteAll(fd, responder.RespondToPartial());
            continue;
        }
        if ((entry.revents & (POLLERR | POLLNVAL)) != 0) {
            std::fprintf(stderr, "printer_simulator: the line failed\n");
            return 1;
        }
        if ((entry.revents & POLLIN) == 0) {
            // Hung up: nobody holds the device side; wait for the next user.
            const timespec pause{0, kHangUpRetryMs * 1000000L};
            ppoll(nullptr, 0, &pause, &waitMask);
            continue;
        }
        char buffer[kReadChunk];
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) continue;
        for (const ReceivedFrame& frame :
             assembler.Feed(std::string_view(buffer, static_cast<std::size_t>(count)))) {
            const std::string reply = responder.Respond(frame);
            if (!reply.empty() && !WriteAll(fd, reply)) {
                std::perror("printer_simulator: write");
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SimulatorOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "printer_simulator: %s\n\n%s", error.c_str(), kHelpText);
        return 2;
    }
    if (options.help) {
        std::fputs(kHelpText, stdout);
        return 0;
    }

    Journal journal;
    if (!journal.Open(options.journalPath)) {
        std::fprintf(stderr, "printer_simulator: cannot open journal %s: %s\n",
                     options.journalPath.c_str(), std::strerror(errno));
        return 1;
    }
    sigset_t waitMask;
    if (!InstallStopSignals(waitMask)) {
        std::perror("printer_simulator: signals");
        return 1;
    }

    PrinterResponder responder(options.faults, journal);
    if (!options.tcpAddress.empty()) {
        TcpListener listener;
        if (!listener.Bind(options.tcpAddress, error)) {
            std::fprintf(stderr, "printer_simulator: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s\n", listener.PortName().c_str());
        std::fflush(stdout);
        return ServeNetwork(listener, responder, options, waitMask, stopRequested, cancelRequested);
    }

    PseudoTerminal terminal;
    SerialDevice device;
    int fd = -1;
    std::string path;
    if (options.device.empty()) {
        if (!terminal.Open()) {
            std::perror("printer_simulator: pseudo-terminal");
            return 1;
        }
        fd = terminal.fd();
        path = terminal.path();
    } else {
        if (!device.Open(options.device, options.baudRate)) {
            std::fprintf(stderr, "printer_simulator: cannot use %s: %s\n", options.device.c_str(),
                         std::strerror(errno));
            return 1;
        }
        fd = device.fd();
        path = options.device;
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    return Serve(fd, responder, waitMask);
}
