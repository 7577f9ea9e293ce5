#pragma once
// Turns each received frame into the bytes sent back: the printer's answer, or the fault
// that the command line asked for.

#include <string>
#include <utility>
#include <vector>

#include "tools/printer_simulator/fiscal_printer.h"
#include "tools/printer_simulator/frame_assembler.h"
#include "tools/printer_simulator/journal.h"
#include "tools/printer_simulator/simulator_options.h"

namespace tillvane::simulator {

class PrinterResponder {
  public:
    PrinterResponder(std::vector<Fault> faults, Journal& journal)
        : faults_(std::move(faults)), journal_(journal) {}

    // The bytes to send back for `frame`; empty for no answer.
    std::string Respond(const ReceivedFrame& frame);
    // The answer to a frame that stopped halfway.
    std::string RespondToPartial();
    // The cashier cancels the open receipt at the printer's keys.
    void CancelAtKeys();
    // True once after an answer that must end the connection where it stops.
    bool TakeHangUp() { return std::exchange(hangUp_, false); }

  private:
    // The first fault for `command` still in force, or null.
    const Fault* TakeFault(std::uint8_t command);

    FiscalPrinter printer_;
    std::vector<Fault> faults_;
    std::vector<bool> used_ = std::vector<bool>(faults_.size(), false);
    Journal& journal_;
    bool hangUp_ = false;
};

}  // namespace tillvane::simulator
