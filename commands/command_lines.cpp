#include "commands/command_lines.h"

#include <array>
#include <charconv>

#include "base/text_split.h"

namespace tillvane {
namespace commands {
namespace {

struct CommandCode {
    std::string_view code;
    Command command;
};

inline constexpr std::array<CommandCode, 14> kCommandCodes{{
    {"BS", Command::kBeginSell},
    {"LK", Command::kCommandH},
    {"UK", Command::kCommandF},
    {"RR", Command::kCommandN},
    {"PT", Command::kPrintText},
    {"SI", Command::kSellItem},
    {"AP", Command::kPayment},
    {"ES", Command::kCloseReceipt},
    {"RO", Command::kResetAfterSell},
    {"ZR", Command::kReportZ},
    {"XR", Command::kReportX},
    {"DC", Command::kDiscount},
    {"IO", Command::kCashInOut},
    {"DR", Command::kReceiptDuplicate},
}};

// White space as the C locale's isspace knows it, whatever locale the process runs in.
bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one group of a hex-encoded name the way strtol(group, nullptr, 16) reads it in the C
// locale: leading white space, an optional sign, then hex digits up to the first other
// character; no digit gives 0. (A "0x" prefix cannot carry digits within two characters, so it
// reads as 0 either way.)
long ReadHexGroup(std::string_view group) {
    std::size_t at = 0;
    while (at < group.size() && IsCSpace(group[at])) {
        ++at;
    }
    bool negative = false;
    if (at < group.size() && (group[at] == '+' || group[at] == '-')) {
        negative = group[at] == '-';
        ++at;
    }
    unsigned long magnitude = 0;
    std::from_chars(group.data() + at, group.data() + group.size(), magnitude, 16);
    const long value = static_cast<long>(magnitude);
    return negative ? -value : value;
}

}  // namespace

Command FindCommand(std::string_view code) {
    for (const CommandCode& entry : kCommandCodes) {
        if (entry.code == code) {
            return entry.command;
        }
    }
    return Command::kNone;
}

void DecodeHexName(std::string_view hex, std::string& name) {
    name.clear();
    for (std::size_t at = 0; at < hex.size() && name.size() < kMaxDecodedNameLength;
         at += kHexDigitsPerByte) {
        const unsigned long byte =
            static_cast<unsigned long>(ReadHexGroup(hex.substr(at, kHexDigitsPerByte))) & kByteMask;
        if (byte == 0) {
            break;
        }
        name.push_back(static_cast<char>(byte));
    }
}

std::string_view TextBeforeNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

bool FieldWasTooLong(std::string_view text, std::size_t position) {
    return position < TextBeforeNul(text).size();
}

void WriteLineError(std::string& reply, std::string_view line, std::string_view detail,
                    std::optional<std::string_view> value) {
    const std::size_t frame =
        kErrorHead.size() + kQuoteEnd.size() + detail.size() + (value ? kQuoteEnd.size() : 0);
    const std::string_view valueText = value.value_or("").substr(0, kMaxReplyLength - frame);
    const std::string_view lineText = line.substr(0, kMaxReplyLength - frame - valueText.size());
    reply.assign(kErrorHead).append(lineText).append(kQuoteEnd).append(detail);
    if (value) {
        reply.append(valueText).append(kQuoteEnd);
    }
}

}  // namespace commands

OpenReceiptUse UseOfOpenReceipt(std::string_view text) {
    using namespace commands;
    std::size_t position = 0;
    std::string line;
    std::string code;
    while (NextField(text, position, line, kMaxLineLength, kLineSeparator)) {
        std::size_t fieldPosition = 0;
        // A line without a readable code fails the text before anything runs.
        if (!NextField(line, fieldPosition, code, kMaxCommandCodeLength, kFieldSeparator)) {
            return OpenReceiptUse::kNone;
        }
        switch (FindCommand(code)) {
            case Command::kNone:
                continue;
            case Command::kBeginSell:
            case Command::kReportZ:
            case Command::kReportX:
            case Command::kReceiptDuplicate:
                return OpenReceiptUse::kOwnReceipt;
            default:
                return OpenReceiptUse::kContinues;
        }
    }
    return OpenReceiptUse::kNone;
}

std::size_t CountCommandLines(std::string_view text) {
    using namespace commands;
    std::size_t lines = 0;
    std::size_t position = 0;
    std::string line;
    for (;;) {
        if (NextField(text, position, line, kMaxLineLength, kLineSeparator)) {
            if (!line.empty()) ++lines;
            continue;
        }
        if (!FieldWasTooLong(text, position)) return lines;
        // A line too long to run is still a line: the count goes on after it.
        ++lines;
        const std::size_t end = text.find(kLineSeparator, position);
        if (end == std::string_view::npos) return lines;
        position = end + 1;
    }
}

}  // namespace tillvane
