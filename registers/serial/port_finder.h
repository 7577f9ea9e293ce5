#pragma once
// Finds the printer among the serial ports: each candidate in turn is opened for this program
// alone, asked for the printer's software version (the harmless query of the handshake) and,
// unless a well-formed reply comes back within a second, closed again. So a scale or a card
// terminal on another port sees one short frame at most, and a port another program holds is
// passed over.

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"
#include "registers/serial/port_serial.h"

namespace tillvane {

// What the Port key says when the printer is to be looked for.
inline constexpr std::string_view kAutoPortName = "auto";
// The longest a candidate is given to answer the probe.
inline constexpr std::chrono::milliseconds kProbeReplyTimeout{1000};
// Reads of a probe give up after this long, so that its wait ends close to kProbeReplyTimeout.
inline constexpr std::chrono::milliseconds kProbeReadTimeout{100};

// A candidate that opened but did not answer the probe (silent, or another device) is not
// probed again before this long: while no printer is found, every request looks again, and
// another device on the candidates' list should see one short frame now and then at most.
inline constexpr std::chrono::seconds kProbeAgainAfter{30};

// When each candidate that failed its probe may be probed again.
class ProbeBackoff {
  public:
    using Clock = std::chrono::steady_clock;

    bool MayProbe(const std::string& name, Clock::time_point now) const;
    void Failed(const std::string& name, Clock::time_point now);
    // The printer is found: every candidate may be probed the next time it is lost.
    void Clear() { nextProbe_.clear(); }

  private:
    std::map<std::string, Clock::time_point> nextProbe_;
};

// The names and patterns of a portCandidates value, separated by commas or blanks.
std::vector<std::string> SplitPortCandidates(std::string_view value);

// The port names that `candidates` stand for, in order, each once: a tcp:// name stands for
// itself, other patterns for the serial ports they match. No network is searched.
std::vector<std::string> ExpandPortCandidates(const std::vector<std::string>& candidates);

// Probes the ports of `candidates` in order with the line `settings`, each opened only for its
// probe, passing over those `backoff` holds back. The first that answers is opened as `port`,
// with the usual read time-out.
bool FindPrinterPort(PortSerial& port, const std::vector<std::string>& candidates,
                     const platform::SerialLineSettings& settings, std::string_view accessCode,
                     ProbeBackoff& backoff);

}  // namespace tillvane
