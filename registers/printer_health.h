#pragma once
// What a driver tells about the printer's health: the last error a printer command ended
// with, how often each error code came, and the receipts it closed. The driver's own thread
// writes it; others see only the copies that thread publishes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tillvane {

struct PrinterError {
    int code = 0;
    std::string command;  // the operation's log name ("CloseReceipt")
    std::chrono::system_clock::time_point time;
    // The driver's own words where no printer code tells what went wrong (a receipt folder
    // that cannot be written); empty otherwise.
    std::string reason;
    // The error as the operator reads it ("Printer error 9999 (no reply) on CloseReceipt").
    std::string text;
    // The printer did not answer at all, as opposed to answering with an error.
    bool printerSilent = false;
};

// A receipt the printer still holds open although nothing will finish it: the command set has
// no cancel, so only the printer's own keys, or the printer showing that no receipt is open,
// end it.
struct UnfinishedReceipt {
    std::chrono::system_clock::time_point since;  // when its open went out
    std::string reason;                           // why it was left ("Printer error 1002 on ...")
};

struct PrinterHealth {
    std::optional<PrinterError> lastError;
    std::optional<UnfinishedReceipt> unfinishedReceipt;
    std::map<int, std::uint64_t> errorsByCode;
    std::uint64_t receiptsClosed = 0;

    // The printer answered `command` with `code`, or did not answer (`printerSilent`);
    // `text` tells it in words.
    void RecordPrinterError(int code, std::string command, std::string text, bool printerSilent) {
        lastError = PrinterError{code, std::move(command), std::chrono::system_clock::now(),
                                 {},   std::move(text),    printerSilent};
        ++errorsByCode[code];
    }
    // The driver itself failed `command` with the system's `code`, for `reason`.
    void RecordDriverError(int code, std::string command, std::string reason) {
        lastError = PrinterError{
            code, std::move(command), std::chrono::system_clock::now(), reason, reason, false};
        ++errorsByCode[code];
    }
};

// The printer's line as the operator sees it.
struct PortHealth {
    std::string name;   // as configured ("COM1", "/dev/ttyUSB0", "auto"); empty without a line
    std::string inUse;  // the port open now; empty while none is
    bool open = false;
    // Since when the port has been lost, or could not be opened; none while it is open.
    std::optional<std::chrono::system_clock::time_point> lostAt;
    std::uint64_t losses = 0;  // open ports that went away
};

// Where the text driver leaves receipts for the printer's own software to take.
struct ReceiptFolderHealth {
    std::string folder;   // as the system opens it
    std::string problem;  // why the last receipt could not be written there; empty once one was
    // The names the driver gives its receipts: outputFileName, or empty for the time-stamped
    // names; other files in the folder are none of its business.
    std::string fixedName;
};

// The receipts a driver left in its folder that the printer's own software has not taken yet.
struct ReceiptBacklog {
    std::size_t waiting = 0;
    bool countCut = false;  // the count stopped at its bound: `waiting` or more
    // The oldest waiting receipt's last change; none while none waits.
    std::optional<std::chrono::system_clock::time_point> oldestSince;
    std::string listProblem;  // why the folder could not be listed; empty when it could
};

// Counts the backlog of the folder a driver published, when the status is read: on the
// reader's thread, so it may only look at the folder, never at the driver.
using ReceiptBacklogCounter = std::function<ReceiptBacklog(const ReceiptFolderHealth& folder)>;

}  // namespace tillvane
