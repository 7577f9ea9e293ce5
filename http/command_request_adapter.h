#pragma once
// An HTTP request to REGCMD as the request pipeline takes it: its fields, client and refusal
// as a CommandRequest, and its deferred reply as the CommandAnswer.

#include <memory>
#include <string>

#include "requests/command_request.h"

namespace tillvane {

class WebRequest;

// The fields are copied: the pipeline may read them after the handler has returned.
CommandRequest CommandRequestOf(const WebRequest& request, bool isPost, int refusalStatus,
                                std::string refusal);
// Defers the answer of `request`; null when the server offered no way to answer later.
std::shared_ptr<CommandAnswer> DeferCommandAnswer(WebRequest& request);

}  // namespace tillvane
