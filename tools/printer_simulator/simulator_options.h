#pragma once
// Command line of the printer simulator.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillvane::simulator {

enum class FaultKind {
    silent,         // no answer at all; the command is not carried out
    nak,            // a NAK byte; the command is not carried out
    error,          // the given error code; the command is not carried out
    empty,          // only the closing 0x03; the command is not carried out
    garbage,        // noise bytes ahead of the normal reply
    wrongSequence,  // the normal reply with a sequence number other than the request's
    cut,            // half the normal reply, then the connection is reset (on TCP)
};

struct Fault {
    std::uint8_t command = 0;
    FaultKind kind = FaultKind::silent;
    int errorCode = 0;  // for FaultKind::error
    bool once = false;  // only the first matching command
};

struct SimulatorOptions {
    std::string device;  // a serial device to serve instead of a new pseudo-terminal
    int baudRate = 9600;
    std::string tcpAddress;   // host:port to listen on instead of a line; empty for none
    int refuseMs = 0;         // TCP: connections are refused for this long after the start
    bool mute = false;        // TCP: connections are taken but never answered
    std::string journalPath;  // "-" for standard output; empty for no journal
    std::vector<Fault> faults;
    bool help = false;
};

// "0x63:error=107", "0xA1:silent:once" and the like; nothing when the text is not a fault.
std::optional<Fault> ParseFault(std::string_view text);
// False, with the reason in `error`, when an argument is not understood.
bool ParseOptions(int argc, const char* const* argv, SimulatorOptions& options, std::string& error);

extern const char* const kHelpText;

}  // namespace tillvane::simulator
