#include "tools/printer_simulator/simulator_options.h"

#include <charconv>

#include "registers/serial/link_frame.h"

namespace tillvane::simulator {

namespace {

constexpr std::string_view kOnce = "once";
constexpr std::string_view kErrorPrefix = "error=";
constexpr int kMaxCommandCode = 0xFF;

// A whole decimal number, or a hexadecimal one after "0x".
std::optional<int> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<FaultKind> ParseKind(std::string_view word) {
    if (word == "silent") return FaultKind::silent;
    if (word == "nak") return FaultKind::nak;
    if (word == "empty") return FaultKind::empty;
    if (word == "garbage") return FaultKind::garbage;
    if (word == "badseq") return FaultKind::wrongSequence;
    if (word == "cut") return FaultKind::cut;
    return std::nullopt;
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view text) {
    const std::size_t firstColon = text.find(':');
    if (firstColon == std::string_view::npos) return std::nullopt;
    const std::optional<int> command = ParseNumber(text.substr(0, firstColon));
    if (!command || *command < 0 || *command > kMaxCommandCode) return std::nullopt;
    Fault fault;
    fault.command = static_cast<std::uint8_t>(*command);

    std::string_view rest = text.substr(firstColon + 1);
    const std::size_t secondColon = rest.find(':');
    if (secondColon != std::string_view::npos) {
        if (rest.substr(secondColon + 1) != kOnce) return std::nullopt;
        fault.once = true;
        rest = rest.substr(0, secondColon);
    }
    if (rest.starts_with(kErrorPrefix)) {
        const std::optional<int> code = ParseNumber(rest.substr(kErrorPrefix.size()));
        if (!code || *code < 0 || *code > link::kMaxReplyErrorCode) return std::nullopt;
        fault.kind = FaultKind::error;
        fault.errorCode = *code;
        return fault;
    }
    const std::optional<FaultKind> kind = ParseKind(rest);
    if (!kind) return std::nullopt;
    fault.kind = *kind;
    return fault;
}

bool ParseOptions(int argc, const char* const* argv, SimulatorOptions& options,
                  std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--mute") {
            options.mute = true;
            continue;
        }
        const bool takesValue = argument == "--device" || argument == "--baud" ||
                                argument == "--journal" || argument == "--fault" ||
                                argument == "--tcp" || argument == "--refuse";
        if (!takesValue) {
            error = "unknown argument " + std::string(argument);
            return false;
        }
        if (i + 1 >= argc) {
            error = std::string(argument) + " needs a value";
            return false;
        }
        const std::string_view value = argv[++i];
        if (argument == "--device") {
            options.device = value;
        } else if (argument == "--tcp") {
            options.tcpAddress = value;
        } else if (argument == "--refuse") {
            const std::optional<int> milliseconds = ParseNumber(value);
            if (!milliseconds || *milliseconds < 0) {
                error = "bad time " + std::string(value);
                return false;
            }
            options.refuseMs = *milliseconds;
        } else if (argument == "--journal") {
            options.journalPath = value;
        } else if (argument == "--baud") {
            const std::optional<int> rate = ParseNumber(value);
            if (!rate || *rate <= 0) {
                error = "bad baud rate " + std::string(value);
                return false;
            }
            options.baudRate = *rate;
        } else {
            const std::optional<Fault> fault = ParseFault(value);
            if (!fault) {
                error = "bad fault " + std::string(value);
                return false;
            }
            options.faults.push_back(*fault);
        }
    }
    return true;
}

const char* const kHelpText =
    R"(printer_simulator: a fiscal receipt printer on a serial line, for tests and trials.

Usage: printer_simulator [--device PATH [--baud RATE] | --tcp HOST:PORT [--refuse MS] [--mute]]
                         [--journal FILE] [--fault CODE:KIND[:once]]...

Without --device or --tcp it creates a pseudo-terminal. The first line on standard output is
what to put into the service's Port setting (e.g. /dev/pts/3, tcp://127.0.0.1:4999); nothing
else goes to standard output unless the journal does. SIGTERM or SIGINT ends it cleanly (exit
code 0). SIGUSR1 is the cashier's cancel key: it cancels a receipt left open. As a printer
does, the simulator keeps a receipt open until it is closed or cancelled, and refuses a new
receipt (2007) and a report (2005) meanwhile.

Options:
  --device PATH   serve a serial device instead (raw 8N1, no flow control)
  --baud RATE     line speed for --device (default 9600)
  --tcp HOST:PORT a printer on the network: listen on HOST (an IPv4 address or a name) and
                  PORT (0: one the system picks), one connection at a time; a new connection
                  takes the place of the one before
  --refuse MS     with --tcp: refuse connections for MS milliseconds after the start, as a
                  printer still starting up does (the port is printed at once)
  --mute          with --tcp: take connections but never answer
  --journal FILE  append one line per command to FILE, flushed at once; "-" is standard output
  --fault CODE:KIND[:once]
                  misbehave on one command code; may be given several times; the first
                  unused fault for a code applies; ":once" makes it apply a single time.
                  CODE is written as 0x63 or 99, KIND is one of
                    silent     no answer at all (the command is not carried out)
                    nak        a NAK byte 0x15 (not carried out)
                    error=N    error code N, 0 to 9999 (not carried out)
                    empty      just 0x03 (not carried out)
                    garbage    noise bytes ahead of the normal reply
                    badseq     the normal reply with a wrong sequence number
                    cut        carried out, but the reply stops halfway: on TCP the
                               connection is reset there
                  e.g. --fault 0x63:error=107  --fault 0xA1:silent:once
                  A fault on 0x88, which normally gets no answer, makes it answered.
  --help          this text

Request frame: 01 LEN SEQ CMD <access code> ; <data> 05 <checksum, 4 bytes> 03
Reply frame:   01 LEN SEQ CMD <error, 4 decimal digits> ; <data> 04 <status, 6 bytes> 05
               <checksum, 4 bytes> 03
  Status bytes have their top bit set; byte 3 has 0x08 while a receipt is open.
  LEN is 0x20 + the bytes from LEN up to and including the 05; the
  checksum is the sum of those bytes modulo 65536 as 4 hex digits, each digit v sent as 0x30+v.
  SEQ and CMD echo the request. A frame with a wrong LEN, checksum or end byte, or one that
  stops halfway for 500 ms, is answered with a NAK (0x15). Command 0x88 gets no answer.

Commands and what the printer does (journal line in capitals):
  0x88 SETUP        0x28 READ PARAMETERS   0x80 SOFTWARE VERSION
  0x63 OPEN RECEIPT (voids an unfinished one) 0x24 ITEM code name VAT group (code;name;vat;...)
  0x64 SALE code name quantity x price      0x61 TEXT text
  0x6D SUBTOTAL total                       0x67 PAYMENT type amount
  0x65 CLOSE RECEIPT TOTAL t PAID p CHANGE c
  0xA1 Z REPORT (data 0;) or X REPORT (data 1;) with the receipts and total since the last Z
Refused commands are journalled as "REFUSED <code> <error> <reason>", faults as
"FAULT <code> <kind>", damaged frames as "BAD FRAME".

Error codes:
  1001 unknown command               1002 data fields missing
  2001 no receipt open (sale, text, subtotal, payment, close)
  2003 subtotal or payment before any item
  2004 closing a receipt not paid in full (or with no payment)
  2005 a report while a receipt is open
  2006 sale of an item code that was never programmed (0x24)
)";

}  // namespace tillvane::simulator
