#include "requests/request_pipeline.h"

#include <algorithm>
#include <optional>

#include "base/base64.h"
#include "base/html_escape.h"
#include "base/utc_time.h"
#include "commands/command_interpreter.h"
#include "registers/virtual_register.h"
#include "requests/replies.h"

namespace tillvane {

namespace {

// The command text ends at its first 0 byte, as the interpreter has always read it.
void CutAtFirstZeroByte(std::string& text) {
    text.resize(std::min(text.find('\0'), text.size()));
}

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

void RequestPipeline::Accept(const CommandRequest& request, std::shared_ptr<CommandAnswer> reply) {
    // Requests come only while the journal and the driver queue are in place.
    JournaledRequest record;
    record.client = request.client;
    record.till = request.till;
    if (!request.refusal.empty()) {
        RequestOutcome outcome;
        outcome.status = request.refusalStatus;
        outcome.reply = Refuse(request.refusal);
        Finish(record, outcome, reply);
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
    Command command;
    if (idsDiffer || (hasId && !IsValidRequestId(record.id))) {
        // Refused before the text is even read: a till that sends a broken id learns it now.
        if (record.id.size() > kMaxRequestIdLength) record.id.resize(kMaxRequestIdLength);
        refused.status = kHttpBadRequest;
        refused.reply = Refuse(std::string(idsDiffer      ? kIdsDifferReply
                                           : idFromHeader ? kInvalidIdempotencyKeyReply
                                                          : kInvalidRequestIdReply));
    } else if (const platform::Error unread = ReadCommand(request, command); !unread.ok()) {
        refused.status = kHttpOk;
        refused.reply = unread.text();
    }
    record.command = command.text;
    if (refused.status != 0) {
        Finish(record, refused, std::move(reply));
        return;
    }
    if (!hasId) {
        Submit(std::move(reply), std::move(command), std::move(record), 0);
        return;
    }
    AdmitWithId(std::move(reply), std::move(command), std::move(record));
}

void RequestPipeline::AdmitWithId(std::shared_ptr<CommandAnswer> reply, Command command,
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
    // Finish reads the waiter's token as its record.
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
                outcome.reply = Refuse(std::string(kJournalUnavailableReply));
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
            outcome.reply =
                Refuse(std::string(queue_.stopped() ? kStoppingReply : kPrinterBusyReply));
            break;
        case IdAdmission::replay:
            outcome.replay = true;
            break;
        case IdAdmission::otherCommand:
            outcome.status = kHttpConflict;
            outcome.reply = Refuse(std::string(kRequestIdReusedReply));
            break;
        case IdAdmission::outcomeUnknown:
            outcome.status = kHttpConflict;
            outcome.reply = Refuse(std::string(kOutcomeUnknownReply));
            outcome.replay = true;
            break;
    }
    Finish(record, outcome, std::move(reply));
}

platform::Error RequestPipeline::ReadCommand(const CommandRequest& request,
                                             Command& command) const {
    command.hexNames = false;
    // A POST whose form carries no command text at all takes the CMD of its URL, as a GET
    // does: answered "OK|" unprinted, a receipt the till believes printed would be lost.
    const std::optional<std::string> formText = request.Form(kCommandField);
    const std::optional<std::string> formBase64 = request.Form(kCommandBase64Field);
    const std::optional<std::string> formBase64Hex = request.Form(kCommandBase64HexField);
    const bool fromForm = formText || formBase64 || formBase64Hex;
    command.text = (fromForm ? formText : request.Query(kCommandField)).value_or(std::string());
    if (command.text.size() > kMaxCommandTextLength) {
        return platform::Error::Message(std::string(kCommandTooLongReply));
    }
    if (fromForm && command.text.empty()) {
        // CMD wins; a plain CMD is never Base64-decoded.
        std::string encoded = formBase64.value_or(std::string());
        if (encoded.empty()) {
            encoded = formBase64Hex.value_or(std::string());
            command.hexNames = true;
        }
        if (encoded.size() > kMaxCommandTextLength) {
            return platform::Error::Message(std::string(kCommandTooLongReply));
        }
        Result<std::string> decoded = Base64Decode(encoded);
        if (!decoded.ok()) {
            // Refused before anything runs: a part of a broken text is no receipt.
            return platform::Error::Message(
                Refuse(std::string(kInvalidBase64Reply) + std::to_string(decoded.error().code())));
        }
        command.text = std::move(decoded.value());
    }
    CutAtFirstZeroByte(command.text);

    if (options_.debugMode) {
        observer_.Log(command.text);
        if (request.isPost) {
            // A till's name is letters, digits and . _ - only: nothing to escape.
            observer_.LogPostedCommand(
                (request.till.empty() ? std::string() : "till=" + request.till + " ") +
                EscapeHtml(command.text));
        }
    }
    if (CountCommandLines(command.text) > static_cast<std::size_t>(options_.maxCommandLines)) {
        return platform::Error::Message(Refuse(std::string(kTooManyLinesReply) +
                                               std::to_string(options_.maxCommandLines) +
                                               std::string(kTooManyLinesTail)));
    }
    return {};
}

void RequestPipeline::Submit(std::shared_ptr<CommandAnswer> reply, Command command,
                             JournaledRequest record, std::uint64_t startTicket) {
    const bool started = !record.id.empty();
    DriverJob job;
    job.refuse = [this, record, reply, started] {
        RequestOutcome outcome;
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = kStoppingReply;
        outcome.started = started;
        Finish(record, outcome, reply);
    };
    job.run = [this, command, record, startTicket, reply] {
        Run(command, record, startTicket, reply);
        observer_.DriverRan();
    };
    if (!queue_.Submit(std::move(job))) {
        // Answered at once, without touching the printer: the till may try again later.
        const bool stopping = queue_.stopped();
        RequestOutcome outcome;
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = Refuse(std::string(stopping ? kStoppingReply : kPrinterBusyReply));
        outcome.started = started;
        Finish(record, outcome, std::move(reply));
    }
}

void RequestPipeline::Run(const Command& command, const JournaledRequest& record,
                          std::uint64_t startTicket, const std::shared_ptr<CommandAnswer>& reply) {
    const bool started = !record.id.empty();
    RequestOutcome outcome;
    outcome.started = started;
    // A request without an answer (null) has nobody to tell that it printed.
    const bool wanted =
        started ? journal_.ids().AnyoneWaits(TillScopedRequestId(record.till, record.id), reply)
                : reply != nullptr && !reply->clientGone();
    if (!wanted) {
        // Nobody waits for it: printing it would only print twice when the till tries again.
        observer_.Log("Request dropped unprinted: its client went away before its turn [" +
                      command.text + "]");
        outcome.note = kDroppedNote;
        Finish(record, outcome, nullptr);
        return;
    }
    if (started && !journal_.WaitDurable(startTicket).ok()) {
        // Without its start on the disk, a crash during the run could print it twice.
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = Refuse(std::string(kJournalUnavailableReply));
        Finish(record, outcome, reply);
        return;
    }
    VirtualRegister* driver = options_.driver;
    if (driver != nullptr) {
        std::string refusal = receiptHolder_.Admit(record.till, command.text, *driver);
        if (!refusal.empty()) {
            // Nothing ran: a later retry of its id may run.
            outcome.status = kHttpOk;
            outcome.reply = Refuse(std::move(refusal));
            Finish(record, outcome, reply);
            return;
        }
    }
    const std::uint64_t refusedBefore = cancelToken_.refusals();
    const std::uint64_t transfersBefore = cancelToken_.transfers();
    outcome.reply = Execute(command);
    outcome.status = kHttpOk;
    outcome.ran = true;
    if (cancelToken_.refusals() != refusedBefore) {
        // The stop interrupted a transfer to the printer: whatever the interpreter made of
        // it, the request did not go out whole.
        AbandonCutShortReceipt();
        outcome.status = kHttpServiceUnavailable;
        if (cancelToken_.transfers() == transfersBefore) {
            // Not a byte of it reached the printer: its id is free for the retry to run.
            outcome.ran = false;
            outcome.reply = kStoppingReply;
        } else {
            // Some of it may have printed: a retry must not print it again, nor be told
            // to wait for a stop long over.
            outcome.outcomeUnknown = true;
            outcome.reply = kCutShortReply;
        }
    }
    if (driver != nullptr) receiptHolder_.Settle(record.till, *driver);
    Finish(record, outcome, reply);
}

std::string RequestPipeline::Execute(const Command& command) const {
    VirtualRegister* driver = options_.driver;
    const Result<std::string> run = ExecuteCommandText(command.text, command.hexNames, driver);
    std::string reply(run.ok() ? kReplySuccessPrefix : kReplyFailurePrefix);
    reply += ReplyTextOf(run);
    return reply;
}

// The receipt of a request that the stop cut short goes, on the driver thread, after that
// request: the interpreter has abandoned what the failed request opened; a receipt still open
// (begun by an earlier request) goes too, so that nothing of it reaches the printer later.
void RequestPipeline::AbandonCutShortReceipt() {
    // Later work of the driver reaches the printer again.
    cancelToken_.Reset();
    VirtualRegister* driver = options_.driver;
    if (driver != nullptr) driver->AbandonReceipt("its request was cut short by the service stop");
    observer_.Log("Request cut short by the service stop; its receipt abandoned");
}

RequestPipeline::RequestPipeline(RequestJournal& journal, AnswerDelivery& delivery,
                                 PipelineOptions options, RequestObserver& observer)
    : journal_(journal), delivery_(delivery), options_(std::move(options)), observer_(observer) {
    // The stop cancels the token; the driver's serial transfers read it.
    if (VirtualRegister* driver = options_.driver) {
        driver->SetCancelToken(&cancelToken_);
    }
}

RequestPipeline::~RequestPipeline() {
    if (VirtualRegister* driver = options_.driver) {
        driver->SetCancelToken(nullptr);
    }
}

void RequestPipeline::Stop() {
    queue_.Stop();
    cancelToken_.Cancel();
}

void RequestPipeline::Join() {
    queue_.Join();
    // The stop cancelled the serial transfers for the driver thread, which has ended.
    cancelToken_.Reset();
}

std::string RequestPipeline::Refuse(std::string reply) const {
    if (options_.debugMode) observer_.Log(reply);
    return reply;
}

void RequestPipeline::Finish(const JournaledRequest& request, const RequestOutcome& outcome,
                             std::shared_ptr<CommandAnswer> reply) {
    observer_.Ended(request, outcome);
    // The newest record to wait for before answering; 0: none was written.
    std::uint64_t ticket = 0;
    if (const Result<std::uint64_t> recorded = journal_.Record(request, outcome); recorded.ok())
        ticket = recorded.value();
    std::vector<Delivery> deliveries;
    if (reply && outcome.status != 0)
        deliveries.push_back({std::move(reply), outcome.status, outcome.reply});
    if (outcome.started) {
        for (IdWaiter& waiter :
             journal_.ids().End(TillScopedRequestId(request.till, request.id), outcome.ran,
                                outcome.status, outcome.reply, outcome.outcomeUnknown)) {
            const auto* waiting = static_cast<const JournaledRequest*>(waiter.token.get());
            RequestOutcome shared = outcome;
            shared.replay = true;
            shared.ran = false;
            shared.started = false;
            shared.note.clear();
            if (waiting != nullptr) {
                observer_.Ended(*waiting, shared);
                const Result<std::uint64_t> recorded = journal_.Record(*waiting, shared);
                if (recorded.ok()) ticket = std::max(ticket, recorded.value());
            }
            if (waiter.reply && outcome.status != 0) {
                deliveries.push_back({std::move(waiter.reply), outcome.status, outcome.reply});
            }
        }
    }
    if (!deliveries.empty()) delivery_.Deliver(ticket, std::move(deliveries));
}

}  // namespace tillvane
