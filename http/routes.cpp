#include "http/routes.h"

#include "http/access_policy.h"
#include "http/command_request_adapter.h"
#include "http/web_request.h"
#include "requests/replies.h"

namespace tillvane {

void Routes::Handle(WebRequest& request, bool isPost) const {
    if (!access_.AdmitClient(request) || !access_.AdmitHost(request)) return;
    const std::string& path = request.path();
    if (!isPost && handlers_.status(request)) return;
    const bool isCommand = path == kCommandPath;
    int refusalStatus = kHttpOk;
    std::string refusal;
    if (!access_.AdmitOrigin(request)) {
        refusalStatus = kHttpForbidden;
        refusal = kCrossSiteReply;
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
        handlers_.command(CommandRequestOf(request, isPost, refusalStatus, std::move(refusal)),
                          std::move(answer));
    } else if (!refusal.empty()) {
        request.SetStatus(refusalStatus);
        request.Write(handlers_.refuse(std::move(refusal)));
    } else if (path.empty()) {
        request.Write(isPost ? kActiveOnPost : kActiveOnGet);
    }
    // Any other path gets an empty body.
}

}  // namespace tillvane
