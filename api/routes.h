#pragma once
// Where a request goes: refused when its client, Host, origin or token may not use the
// service, the status paths, REGCMD (the command, or its refusal, handed to the command
// handler), the root and any other path (an empty answer); and a browser's preflight.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "requests/command_request.h"

namespace tillvane {

class AccessPolicy;
class WebRequest;
class WebServer;

// What a status path answers: sent as it is, never kept by a cache.
struct StatusContent {
    std::string contentType;
    std::string body;
};

// The read-only status paths, answered from what is already published.
class StatusAnswers {
  public:
    virtual ~StatusAnswers() = default;
    // The answer to a GET for `path`; none for a path that is no status path.
    virtual std::optional<StatusContent> Answer(std::string_view path) const = 0;
};

struct RoutePaths {
    // The status paths: with tokens set, they need one too.
    std::vector<std::string> status;
    // The status paths a browser's page may ask to read (besides REGCMD).
    std::vector<std::string> preflight;
};

class Routes {
  public:
    Routes(const AccessPolicy& access, const StatusAnswers& status, CommandSink& commands,
           RoutePaths paths)
        : access_(access), status_(status), commands_(commands), paths_(std::move(paths)) {}

    // Makes `server` hand its GET, POST and OPTIONS requests here.
    void Serve(WebServer& server) const;

    void Handle(WebRequest& request, bool isPost) const;
    // An OPTIONS request: a browser asks whether its page may send a request. It never runs
    // a command.
    void Preflight(WebRequest& request) const;

  private:
    const AccessPolicy& access_;
    const StatusAnswers& status_;
    CommandSink& commands_;
    RoutePaths paths_;
};

}  // namespace tillvane
