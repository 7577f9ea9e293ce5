#include "api/routes.h"

#include <algorithm>
#include <utility>

#include "api/access_policy.h"
#include "api/command_request_adapter.h"
#include "http/web_request.h"
#include "http/web_server.h"
#include "requests/replies.h"
#include "requests/reply_status.h"

namespace tillvane {

namespace {

bool IsOneOf(const std::string& path, const std::vector<std::string>& paths) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// Writes a refusal of the server's own checks as the answer.
void Answer(WebRequest& request, const HttpRefusal& refusal) {
    request.SetStatus(refusal.status);
    request.Write(refusal.text);
}

}  // namespace

void Routes::Serve(WebServer& server) const {
    server.OnPost([this](WebServer&, WebRequest& request) { Handle(request, true); });
    server.OnGet([this](WebServer&, WebRequest& request) { Handle(request, false); });
    server.OnOptions([this](WebServer&, WebRequest& request) { Preflight(request); });
}

void Routes::Handle(WebRequest& request, bool isPost) const {
    if (HttpRefusal refusal = access_.AdmitClient(request)) return Answer(request, refusal);
    if (HttpRefusal refusal = access_.AdmitHost(request)) return Answer(request, refusal);
    const std::string& path = request.path();
    // An allowed origin's page may read whatever it is answered, refusals included.
    HttpRefusal refusal = access_.AdmitOrigin(request);
    const bool isCommand = path == kCommandPath;
    std::string till;
    if (!isPost && IsOneOf(path, paths_.status)) {
        TillIdentity identity = access_.IdentifyTill(request);
        if (identity.refusal) {
            request.SetStatus(identity.refusal.status);
            request.Write(commands_.Refuse(std::move(identity.refusal.text)));
            return;
        }
        if (std::optional<StatusContent> content = status_.Answer(path)) {
            request.SetResponseHeader("Content-Type", std::move(content->contentType));
            request.SetResponseHeader("Cache-Control", "no-store");
            request.Write(content->body);
            return;
        }
    }
    if (refusal) {
        // Refused already.
    } else if (isCommand) {
        TillIdentity identity = access_.IdentifyTill(request);
        refusal = std::move(identity.refusal);
        till = std::move(identity.till);
    }
    if (!refusal && isPost && request.bodyIsNotAForm()) {
        // The fields of any other body are unknown: running the empty text instead would
        // answer "OK|" for a request that did nothing.
        const std::string& type = request.bodyMediaType();
        refusal = {kHttpUnsupportedMediaType,
                   std::string(kUnsupportedContentTypeReply) +
                       (type.empty() ? std::string(kNoContentTypeName) : type) +
                       std::string(kSendUrlEncodedHint)};
    }
    if (isCommand) {
        // Its answer always comes later, once its record is journaled.
        std::shared_ptr<CommandAnswer> answer = DeferCommandAnswer(request);
        CommandRequest command = CommandRequestOf(request, isPost, std::move(refusal));
        command.till = std::move(till);
        commands_.Accept(command, std::move(answer));
    } else if (refusal) {
        request.SetStatus(refusal.status);
        request.Write(commands_.Refuse(std::move(refusal.text)));
    } else if (path.empty()) {
        request.Write(isPost ? kActiveOnPost : kActiveOnGet);
    }
    // Any other path gets an empty body.
}

void Routes::Preflight(WebRequest& request) const {
    if (HttpRefusal refusal = access_.AdmitClient(request)) return Answer(request, refusal);
    if (HttpRefusal refusal = access_.AdmitHost(request)) return Answer(request, refusal);
    const std::string& path = request.path();
    if (path != kCommandPath && !IsOneOf(path, paths_.preflight)) {
        request.SetStatus(kHttpMethodNotAllowed);
        request.Write(kMethodNotAllowedReply);
        return;
    }
    if (HttpRefusal refusal = access_.AdmitPreflight(request)) {
        request.SetStatus(refusal.status);
        request.Write(commands_.Refuse(std::move(refusal.text)));
        return;
    }
    request.SetStatus(kHttpNoContent);
}

}  // namespace tillvane
