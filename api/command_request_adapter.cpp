#include "api/command_request_adapter.h"

#include <utility>

#include "http/web_request.h"
#include "requests/reply_status.h"

namespace tillvane {

namespace {

CommandRequest::FieldLookup LookupIn(const FormFields& fields) {
    return [fields](std::string_view name) -> std::optional<std::string> {
        if (!fields.Has(name)) return std::nullopt;
        return fields.Value(name);
    };
}

}  // namespace

CommandRequest CommandRequestOf(const WebRequest& request, bool isPost, HttpRefusal refusal) {
    CommandRequest command;
    command.queryField = LookupIn(request.query());
    if (isPost) command.formField = LookupIn(request.form());
    command.isPost = isPost;
    command.client = request.clientAddress();
    command.refusalStatus = refusal.refused() ? refusal.status : kHttpOk;
    command.refusal = std::move(refusal.text);
    if (request.HasHeader(kIdempotencyKeyHeader)) {
        command.idempotencyKey = request.Header(kIdempotencyKeyHeader);
    }
    return command;
}

std::shared_ptr<CommandAnswer> DeferCommandAnswer(WebRequest& request) {
    std::shared_ptr<PendingReply> pending = request.Defer();
    if (!pending) return nullptr;
    return std::make_shared<CommandAnswer>(
        [pending](int status, std::string body) { pending->Send(status, std::move(body)); },
        [pending] { return pending->clientGone(); });
}

}  // namespace tillvane
