#pragma once
// Every text the service answers a request with, and the statuses that go with them.

#include <cstddef>
#include <string_view>

#include "commands/command_interpreter.h"
#include "requests/reply_status.h"

namespace tillvane {

// A command text, terminator counted as the front end always has.
inline constexpr std::size_t kCommandTextCapacity = kMaxCommandTextLength + 1;

inline constexpr std::string_view kCommandPath = "REGCMD";
// The fields that carry a command text: plain, Base64, and Base64 with hexadecimal names.
inline constexpr std::string_view kCommandField = "CMD";
inline constexpr std::string_view kCommandBase64Field = "CMDBASE64";
inline constexpr std::string_view kCommandBase64HexField = "CMDBASE64HEX";
inline constexpr std::string_view kReplySuccessPrefix = "OK|";
inline constexpr std::string_view kReplyFailurePrefix = "ERR|";
inline constexpr std::string_view kCommandTooLongReply = "ERR|command text too long";
// Followed by the position of the first character that is no Base64, counted from 1.
inline constexpr std::string_view kInvalidBase64Reply = "ERR|invalid Base64 at position ";
// A POST body that is not a form: "ERR|unsupported Content-Type <type>; send ...", with the
// media type in lower case and without parameters, or "(none)" when the request named none.
inline constexpr std::string_view kUnsupportedContentTypeReply = "ERR|unsupported Content-Type ";
inline constexpr std::string_view kNoContentTypeName = "(none)";
inline constexpr std::string_view kSendUrlEncodedHint = "; send application/x-www-form-urlencoded";
// Followed by the line bound: "ERR|command text has more than 1000 lines".
inline constexpr std::string_view kTooManyLinesReply = "ERR|command text has more than ";
inline constexpr std::string_view kTooManyLinesTail = " lines";
// A client outside allowedClients, and a Host header that names neither this machine nor an
// allowed name.
inline constexpr std::string_view kClientNotAllowedReply = "ERR|client not allowed";
inline constexpr std::string_view kUnknownHostReply = "ERR|unknown Host";
// With apiTokens set: a request that presents no till's token (the token is never echoed).
inline constexpr std::string_view kUnknownTokenReply = "ERR|missing or unknown token";
// A browser request from another site whose origin is not in allowedOrigins.
inline constexpr std::string_view kCrossSiteReply = "ERR|cross-site request refused";
// Every place in the driver queue is taken.
inline constexpr std::string_view kPrinterBusyReply = "ERR|printer busy";
// The service stops: a request that had not begun, and one that the stop cut short.
inline constexpr std::string_view kStoppingReply = "ERR|service stopping";
inline constexpr std::string_view kCutShortReply =
    "ERR|service stopping: the request was cut short and its receipt abandoned";
// A request id: 1 to 64 characters of A-Z a-z 0-9 . _ : - (REQUESTID beside CMD).
inline constexpr std::string_view kRequestIdParameter = "REQUESTID";
inline constexpr std::size_t kMaxRequestIdLength = 64;
inline constexpr std::string_view kInvalidRequestIdReply = "ERR|invalid REQUESTID";
// The Idempotency-Key header names the request id as REQUESTID does, by the same rules.
inline constexpr std::string_view kInvalidIdempotencyKeyReply = "ERR|invalid Idempotency-Key";
inline constexpr std::string_view kIdsDifferReply =
    "ERR|REQUESTID and Idempotency-Key differ; send one of them, or both the same";
inline constexpr std::string_view kRequestIdReusedReply =
    "ERR|REQUESTID already used for another command";
inline constexpr std::string_view kOutcomeUnknownReply =
    "ERR|outcome unknown: the service stopped while this request ran; check the printer before "
    "retrying with a new REQUESTID";
inline constexpr std::string_view kJournalUnavailableReply =
    "ERR|request journal cannot be written; nothing was printed";
// With tokens set, lines of another till for an open receipt: "ERR|the open receipt belongs
// to till [front]; nothing of this request ran: begin a receipt of this till's own with BS".
inline constexpr std::string_view kOtherTillsReceiptReply =
    "ERR|the open receipt belongs to till [";
inline constexpr std::string_view kOtherTillsReceiptTail =
    "]; nothing of this request ran: begin a receipt of this till's own with BS";
inline constexpr std::string_view kDroppedNote =
    "dropped unprinted: its client went away before its turn";
inline constexpr std::string_view kActiveOnPost = "Tillvane service is active on_post";
inline constexpr std::string_view kActiveOnGet = "Tillvane service is active on_get";

}  // namespace tillvane
