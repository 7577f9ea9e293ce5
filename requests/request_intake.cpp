#include "requests/request_intake.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/utc_time.h"
#include "requests/replies.h"

namespace tillvane {

namespace {

bool IsValidRequestId(std::string_view id) {
    if (id.empty() || id.size() > kMaxRequestIdLength) return false;
    for (const char c : id) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == ':' || c == '-';
        if (!allowed) return false;
    }
    return true;
}

}  // namespace

void RequestIntake::Accept(const CommandRequest& request, std::shared_ptr<CommandAnswer> reply) {
    // Requests come only while the journal and the driver queue are in place.
    JournaledRequest record;
    record.client = request.client;
    record.till = request.till;
    if (!request.refusal.empty()) {
        RequestOutcome outcome;
        outcome.status = request.refusalStatus;
        outcome.reply = refusals_.Refuse(request.refusal);
        ending_.Finish(record, outcome, reply);
        return;
    }
    std::optional<std::string> id = request.Form(kRequestIdParameter);
    if (!id) id = request.Query(kRequestIdParameter);
    // Two names for one id: a request that gives both must mean the same one.
    const bool idsDiffer = id && request.idempotencyKey && *id != *request.idempotencyKey;
    const bool idFromHeader = !id && request.idempotencyKey;
    if (idFromHeader) id = request.idempotencyKey;
    const bool hasId = id.has_value();
    record.id = id.value_or(std::string());
    RequestOutcome refused;
    RequestCommand command;
    if (idsDiffer || (hasId && !IsValidRequestId(record.id))) {
        // Refused before the text is even read: a till that sends a broken id learns it now.
        if (record.id.size() > kMaxRequestIdLength) record.id.resize(kMaxRequestIdLength);
        refused.status = kHttpBadRequest;
        refused.reply = refusals_.Refuse(std::string(idsDiffer      ? kIdsDifferReply
                                                     : idFromHeader ? kInvalidIdempotencyKeyReply
                                                                    : kInvalidRequestIdReply));
    } else if (const platform::Error unread = reader_.Read(request, command); !unread.ok()) {
        refused.status = kHttpOk;
        refused.reply = unread.text();
    }
    record.command = command.text;
    if (refused.status != 0) {
        ending_.Finish(record, refused, std::move(reply));
        return;
    }
    if (!hasId) {
        Submit(std::move(reply), std::move(command), std::move(record), std::nullopt);
        return;
    }
    AdmitWithId(std::move(reply), std::move(command), std::move(record));
}

void RequestIntake::AdmitWithId(std::shared_ptr<CommandAnswer> reply, RequestCommand command,
                                JournaledRequest record) {
    RequestOutcome outcome;
    // A request that waits for the run of its id takes a place in the driver queue as if it
    // waited there: waiting requests, of any kind, stay within the queue's bound.
    struct Waiting {
        JournaledRequest record;
        std::shared_ptr<void> place;
    };
    auto waiting = std::make_shared<Waiting>(Waiting{record, queue_.HoldPlace()});
    const std::size_t maxWaiters = waiting->place ? kMaxWaitersPerRequestId : 0;
    // The ending reads the waiter's token as its record.
    std::shared_ptr<void> token(waiting, &waiting->record);
    IdDecision decision = journal_.ids().Admit(TillScopedRequestId(record.till, record.id),
                                               DigestOfCommandText(command.text), UnixMillisNow(),
                                               IdWaiter{reply, std::move(token)}, maxWaiters);
    outcome.status = decision.status;
    outcome.reply = std::move(decision.reply);
    switch (decision.admission) {
        case IdAdmission::fresh: {
            waiting.reset();  // its place is the job's now
            const Result<std::uint64_t> ticket = journal_.RecordStart(record);
            if (!ticket.ok()) {
                outcome.status = kHttpServiceUnavailable;
                outcome.reply = refusals_.Refuse(std::string(kJournalUnavailableReply));
                outcome.started = true;
                break;
            }
            Submit(std::move(reply), std::move(command), std::move(record), ticket.value());
            return;
        }
        case IdAdmission::joined:
            return;  // answered when the run it waits for ends
        case IdAdmission::busy:
            // Nothing ran: a later retry gets the answer of the run it could not wait for.
            outcome.status = kHttpServiceUnavailable;
            outcome.reply = refusals_.Refuse(
                std::string(queue_.stopped() ? kStoppingReply : kPrinterBusyReply));
            break;
        case IdAdmission::replay:
            outcome.replay = true;
            break;
        case IdAdmission::otherCommand:
            outcome.status = kHttpConflict;
            outcome.reply = refusals_.Refuse(std::string(kRequestIdReusedReply));
            break;
        case IdAdmission::outcomeUnknown:
            outcome.status = kHttpConflict;
            outcome.reply = refusals_.Refuse(std::string(kOutcomeUnknownReply));
            outcome.replay = true;
            break;
    }
    ending_.Finish(record, outcome, std::move(reply));
}

void RequestIntake::Submit(std::shared_ptr<CommandAnswer> reply, RequestCommand command,
                           JournaledRequest record, std::optional<std::uint64_t> startRecord) {
    const bool started = !record.id.empty();
    DriverJob job;
    job.refuse = [this, record, reply, started] {
        RequestOutcome outcome;
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = kStoppingReply;
        outcome.started = started;
        ending_.Finish(record, outcome, reply);
    };
    job.run = [this, command, record, startRecord, reply] {
        run_.Run(command, record, startRecord, reply);
        observer_.DriverRan();
    };
    if (!queue_.Submit(std::move(job))) {
        // Answered at once, without touching the printer: the till may try again later.
        const bool stopping = queue_.stopped();
        RequestOutcome outcome;
        outcome.status = kHttpServiceUnavailable;
        outcome.reply =
            refusals_.Refuse(std::string(stopping ? kStoppingReply : kPrinterBusyReply));
        outcome.started = started;
        ending_.Finish(record, outcome, std::move(reply));
    }
}

}  // namespace tillvane
