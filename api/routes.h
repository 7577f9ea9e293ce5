#pragma once
// Where a request goes: refused when its client, Host, origin or token may not use the
// service, the status paths, REGCMD (the command, or its refusal, handed to the command
// handler), the root and any other path (an empty answer); and a browser's preflight.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "requests/command_request.h"

namespace tillvane {

class AccessPolicy;
class WebRequest;

struct RouteHandlers {
    // Answers a GET for one of the status paths; false for any other path.
    std::function<bool(WebRequest&)> status;
    // A request to REGCMD, with its refusal set when it is refused before its command is
    // read (a cross-site page, a missing token, a body that is no form), and the answer it
    // is owed.
    std::function<void(const CommandRequest&, std::shared_ptr<CommandAnswer>)> command;
    // A refusal on its way out: the reply text to send.
    std::function<std::string(std::string)> refuse;
    // The status paths: with tokens set, they need one too.
    std::vector<std::string> statusPaths;
    // The status paths a browser's page may ask to read (besides REGCMD).
    std::vector<std::string> preflightPaths;
};

class Routes {
  public:
    Routes(const AccessPolicy& access, RouteHandlers handlers)
        : access_(access), handlers_(std::move(handlers)) {}

    void Handle(WebRequest& request, bool isPost) const;
    // An OPTIONS request: a browser asks whether its page may send a request. It never runs
    // a command.
    void Preflight(WebRequest& request) const;

  private:
    const AccessPolicy& access_;
    RouteHandlers handlers_;
};

}  // namespace tillvane
