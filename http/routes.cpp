#include "http/routes.h"

#include <algorithm>

#include "http/access_policy.h"
#include "http/command_request_adapter.h"
#include "http/web_request.h"
#include "http/web_server.h"
#include "requests/replies.h"

namespace tillvane {

namespace {

bool IsOneOf(const std::string& path, const std::vector<std::string>& paths) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

}  // namespace

void Routes::Handle(WebRequest& request, bool isPost) const {
    if (!access_.AdmitClient(request) || !access_.AdmitHost(request)) return;
    const std::string& path = request.path();
    // An allowed origin's page may read whatever it is answered, refusals included.
    const bool originAdmitted = access_.AdmitOrigin(request);
    const bool isCommand = path == kCommandPath;
    std::string till;
    if (!isPost) {
        if (IsOneOf(path, handlers_.statusPaths) && !access_.IdentifyTill(request, till)) {
            request.SetStatus(kHttpUnauthorized);
            request.Write(handlers_.refuse(std::string(kUnknownTokenReply)));
            return;
        }
        if (handlers_.status(request)) return;
    }
    int refusalStatus = kHttpOk;
    std::string refusal;
    if (!originAdmitted) {
        refusalStatus = kHttpForbidden;
        refusal = kCrossSiteReply;
    } else if (isCommand && !access_.IdentifyTill(request, till)) {
        refusalStatus = kHttpUnauthorized;
        refusal = kUnknownTokenReply;
    } else if (isPost && request.bodyIsNotAForm()) {
        // The fields of any other body are unknown: running the empty text instead would
        // answer "OK|" for a request that did nothing.
        const std::string& type = request.bodyMediaType();
        refusalStatus = kHttpUnsupportedMediaType;
        refusal = std::string(kUnsupportedContentTypeReply) +
                  (type.empty() ? std::string(kNoContentTypeName) : type) +
                  std::string(kSendUrlEncodedHint);
    }
    if (isCommand) {
        // Its answer always comes later, once its record is journaled.
        std::shared_ptr<CommandAnswer> answer = DeferCommandAnswer(request);
        CommandRequest command =
            CommandRequestOf(request, isPost, refusalStatus, std::move(refusal));
        command.till = std::move(till);
        handlers_.command(command, std::move(answer));
    } else if (!refusal.empty()) {
        request.SetStatus(refusalStatus);
        request.Write(handlers_.refuse(std::move(refusal)));
    } else if (path.empty()) {
        request.Write(isPost ? kActiveOnPost : kActiveOnGet);
    }
    // Any other path gets an empty body.
}

void Routes::Preflight(WebRequest& request) const {
    if (!access_.AdmitClient(request) || !access_.AdmitHost(request)) return;
    const std::string& path = request.path();
    if (path != kCommandPath && !IsOneOf(path, handlers_.preflightPaths)) {
        request.SetStatus(kHttpMethodNotAllowed);
        request.Write(kMethodNotAllowedReply);
        return;
    }
    if (!access_.AdmitPreflight(request)) {
        request.SetStatus(kHttpForbidden);
        request.Write(handlers_.refuse(std::string(kCrossSiteReply)));
        return;
    }
    request.SetStatus(kHttpNoContent);
}

}  // namespace tillvane
