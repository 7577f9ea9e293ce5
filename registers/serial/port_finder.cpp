#include "registers/serial/port_finder.h"

#include <algorithm>

#include "registers/serial/link_frame.h"
#include "registers/serial/network_port_name.h"
#include "registers/serial/printer_commands.h"
#include "registers/serial/serial_link.h"

namespace tillvane {

namespace {

constexpr std::string_view kCandidateSeparators = ", \t";

// True once `received` ends with a reply to the probe; garbage before it is allowed, as the
// link allows it.
bool EndsWithReply(std::string_view received) {
    for (std::size_t start = received.find(link::kFrameStart); start != std::string_view::npos;
         start = received.find(link::kFrameStart, start + 1)) {
        if (link::ReadsAsReply(received.substr(start), link::kFirstSequence)) return true;
    }
    return false;
}

// Sends the software-version query on the open `port` and waits for its reply.
bool Answers(PortSerial& port, std::string_view accessCode) {
    port.DiscardInput();
    if (!port.Write(link::BuildRequestFrame(link::kFirstSequence, printer::kSoftwareVersion,
                                            accessCode, {}))
             .ok()) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kProbeReplyTimeout;
    std::string received;
    while (std::chrono::steady_clock::now() < deadline && received.size() < kReplyBufferSize) {
        const std::optional<char> byte = port.ReadByte();
        if (!port.isOpen) return false;
        if (!byte) continue;
        received += *byte;
        if (*byte == link::kFrameEnd && EndsWithReply(received)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> SplitPortCandidates(std::string_view value) {
    std::vector<std::string> names;
    std::size_t position = 0;
    while (position < value.size()) {
        const std::size_t start = value.find_first_not_of(kCandidateSeparators, position);
        if (start == std::string_view::npos) break;
        const std::size_t end = value.find_first_of(kCandidateSeparators, start);
        names.emplace_back(value.substr(start, end - start));
        position = end == std::string_view::npos ? value.size() : end;
    }
    return names;
}

bool ProbeBackoff::MayProbe(const std::string& name, Clock::time_point now) const {
    const auto next = nextProbe_.find(name);
    return next == nextProbe_.end() || now >= next->second;
}

void ProbeBackoff::Failed(const std::string& name, Clock::time_point now) {
    nextProbe_[name] = now + kProbeAgainAfter;
}

std::vector<std::string> ExpandPortCandidates(const std::vector<std::string>& candidates) {
    std::vector<std::string> names;
    for (const std::string& candidate : candidates) {
        // An IPv6 address in brackets is no pattern.
        const std::vector<std::string> expanded =
            IsNetworkPortName(candidate) ? std::vector<std::string>{candidate}
                                         : platform::ExpandSerialPortPatterns({candidate});
        for (const std::string& name : expanded) {
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
    }
    return names;
}

bool FindPrinterPort(PortSerial& port, const std::vector<std::string>& candidates,
                     const platform::SerialLineSettings& settings, std::string_view accessCode,
                     ProbeBackoff& backoff) {
    for (const std::string& name : candidates) {
        if (!backoff.MayProbe(name, ProbeBackoff::Clock::now())) continue;
        // A port of its own: a candidate that fails its probe is no loss of the printer's.
        // One that cannot be opened was sent nothing and may be tried again at once.
        PortSerial probe;
        if (!probe.Open(name, settings, kProbeReadTimeout).ok()) continue;
        if (!Answers(probe, accessCode)) {
            backoff.Failed(name, ProbeBackoff::Clock::now());
            continue;
        }
        probe.Close();
        if (port.Open(name, settings).ok()) {
            backoff.Clear();
            return true;
        }
    }
    return false;
}

}  // namespace tillvane
