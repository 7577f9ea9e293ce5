#include "requests/request_run.h"

#include "base/result.h"
#include "commands/command_interpreter.h"
#include "registers/virtual_register.h"
#include "requests/replies.h"

namespace tillvane {

void RequestRun::Run(const RequestCommand& command, const JournaledRequest& record,
                     std::optional<std::uint64_t> startRecord,
                     const std::shared_ptr<CommandAnswer>& reply) {
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
        ending_.Finish(record, outcome, nullptr);
        return;
    }
    if (startRecord && !journal_.WaitDurable(*startRecord).ok()) {
        // Without its start on the disk, a crash during the run could print it twice.
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = refusals_.Refuse(std::string(kJournalUnavailableReply));
        ending_.Finish(record, outcome, reply);
        return;
    }
    VirtualRegister* driver = options_.driver;
    if (driver != nullptr) {
        const platform::Error refusal = receiptHolder_.Admit(record.till, command.text, *driver);
        if (!refusal.ok()) {
            // Nothing ran: a later retry of its id may run.
            outcome.status = kHttpOk;
            outcome.reply = refusals_.Refuse(refusal.text());
            ending_.Finish(record, outcome, reply);
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
    ending_.Finish(record, outcome, reply);
}

std::string RequestRun::Execute(const RequestCommand& command) const {
    VirtualRegister* driver = options_.driver;
    const Result<std::string> run = ExecuteCommandText(command.text, command.hexNames, driver);
    std::string reply(run.ok() ? kReplySuccessPrefix : kReplyFailurePrefix);
    reply += ReplyTextOf(run);
    return reply;
}

// The receipt of a request that the stop cut short goes, on the driver thread, after that
// request: the interpreter has abandoned what the failed request opened; a receipt still open
// (begun by an earlier request) goes too, so that nothing of it reaches the printer later.
void RequestRun::AbandonCutShortReceipt() {
    // Later work of the driver reaches the printer again.
    cancelToken_.Reset();
    VirtualRegister* driver = options_.driver;
    if (driver != nullptr) driver->AbandonReceipt("its request was cut short by the service stop");
    observer_.Log("Request cut short by the service stop; its receipt abandoned");
}

}  // namespace tillvane
