#pragma once
// The receipt command interpreter: one command text ("|" between lines, "^" between fields)
// becomes calls of the driver's operations.

#include <string>
#include <string_view>

#include "base/result.h"

namespace tillvane {

class VirtualRegister;

// Capacity of the reply text, terminator included: the reply never holds more than
// kReplyTextCapacity - 1 characters.
inline constexpr std::size_t kReplyTextCapacity = 4088;
// Longest command text the front end accepts, in characters.
inline constexpr std::size_t kMaxCommandTextLength = 99999;

// Runs every line of `text` against `driver` (null when no driver was configured): the reply
// text, or a failure whose text is the reason the till reads. `hexNames` means the name field
// of every SI line is written in hexadecimal.
Result<std::string> ExecuteCommandText(std::string_view text, bool hexNames,
                                       VirtualRegister* driver);
// What a run answers the till after the status prefix: its reply, or the reason it failed.
inline const std::string& ReplyTextOf(const Result<std::string>& run) {
    return run.ok() ? run.value() : run.error().text();
}

// How many lines of `text` ExecuteCommandText would read: the pieces between "|" that hold
// more than blanks, one too long to run included.
std::size_t CountCommandLines(std::string_view text);

// What a text does to a receipt that an earlier request left open, judged by its first line
// that names a command.
enum class OpenReceiptUse {
    kNone,        // it names no command: nothing reaches the printer
    kOwnReceipt,  // BS, or a report or duplicate, which prints as a receipt of its own
    kContinues,   // any other line: it lands on the open receipt
};
OpenReceiptUse UseOfOpenReceipt(std::string_view text);

}  // namespace tillvane
