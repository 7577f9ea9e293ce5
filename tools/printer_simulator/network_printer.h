#pragma once
// The simulated printer on the network: it takes one connection at a time and answers the
// frames that arrive on it, as the line does.

#include <signal.h>

#include "tools/printer_simulator/printer_responder.h"
#include "tools/printer_simulator/simulator_options.h"
#include "tools/printer_simulator/tcp_listener.h"

namespace tillvane::simulator {

// Serves until `stopRequested` is set (the stop signals, unblocked only in `waitMask`, end
// every wait); the cashier's cancel key (`cancelRequested`) is honoured between waits, as on
// the line. The process's exit code.
int ServeNetwork(TcpListener& listener, PrinterResponder& responder,
                 const SimulatorOptions& options, const sigset_t& waitMask,
                 const volatile sig_atomic_t& stopRequested,
                 volatile sig_atomic_t& cancelRequested);

}  // namespace tillvane::simulator
