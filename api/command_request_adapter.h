#pragma once
// An HTTP request to REGCMD as the request pipeline takes it: its fields, client and refusal
// as a CommandRequest, and its deferred reply as the CommandAnswer.

#include <memory>
#include <string>
#include <string_view>

#include "http/http_refusal.h"
#include "requests/command_request.h"

namespace tillvane {

class WebRequest;

// The header field a web client names its request id with; the REQUESTID field's synonym.
inline constexpr std::string_view kIdempotencyKeyHeader = "Idempotency-Key";
// The field that carries a till's token, for tills that cannot set the Authorization header.
inline constexpr std::string_view kTokenField = "TOKEN";

// The fields are copied: the pipeline may read them after the handler has returned.
CommandRequest CommandRequestOf(const WebRequest& request, bool isPost, HttpRefusal refusal);
// Defers the answer of `request`; null when the server offered no way to answer later.
std::shared_ptr<CommandAnswer> DeferCommandAnswer(WebRequest& request);

}  // namespace tillvane
