#include "app/app_context.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <system_error>

#include "app/app_files.h"
#include "app/app_log.h"
#include "base/base64.h"
#include "base/html_escape.h"
#include "base/numbers.h"
#include "base/text_split.h"
#include "base/utc_time.h"
#include "http/event_pump.h"
#include "http/web_request.h"
#include "http/web_server.h"
#include "platform/com_apartment.h"
#include "platform/machine_name.h"
#include "platform/program_path.h"
#include "platform/serial_port.h"
#include "registers/register_host.h"
#include "requests/driver_queue.h"
#include "status/status_endpoints.h"

namespace tillvane {

namespace {

// The command text ends at its first 0 byte, as the interpreter has always read it.
void CutAtFirstZeroByte(std::string& text) {
    text.resize(std::min(text.find('\0'), text.size()));
}

WebServerLimits CommandServerLimits() {
    WebServerLimits limits;
    limits.maxHeaderBytes = kMaxRequestHeaderBytes;
    limits.maxBodyBytes = kMaxRequestBodyBytes;
    limits.maxPathLength = kRequestPathCapacity - 1;
    limits.maxConnectionsPerAddress = kConnectionsPerClientAddress;
    return limits;
}

JournalSettings JournalSettingsOf(const Settings& settings) {
    JournalSettings journal;
    journal.idRetention = settings.idRetention;
    journal.journalRetention = settings.journalRetention;
    return journal;
}

// Lines of a command text as the interpreter reads them: the pieces between "|" that hold
// more than blanks.
std::size_t CountCommandLines(std::string_view text) {
    std::size_t lines = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('|', start);
        if (end == std::string_view::npos) end = text.size();
        if (text.substr(start, end - start).find_first_not_of(' ') != std::string_view::npos) {
            ++lines;
        }
        start = end + 1;
    }
    return lines;
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

AppContext::AppContext() : AppContext(platform::ProgramPath()) {}

AppContext::AppContext(const std::string& programPath)
    : iniPath(AppFilePath(programPath, AppFile::configuration)),
      appLogPath(AppFilePath(programPath, AppFile::applicationLog)),
      requestLogPath(AppFilePath(programPath, AppFile::requestLog)),
      journalPath(AppFilePath(programPath, AppFile::requestJournal)),
      access_([this](std::string_view text) { WriteAppLog(text); }),
      routes_(access_,
              RouteHandlers{
                  [this](WebRequest& request) {
                      return AnswerStatusRequest(
                          request, status, driverQueue_ != nullptr ? driverQueue_->waiting() : 0);
                  },
                  [this](WebRequest& request, bool isPost, int refusalStatus, std::string refusal) {
                      HandleCommand(request, isPost, refusalStatus, std::move(refusal));
                  },
                  [this](std::string reply) { return Refuse(std::move(reply)); }}) {}

AppContext::~AppContext() {
    if (serverThread_.joinable()) {
        // The handlers use this object: it may not go before the thread does.
        RequestServerExit();
        serverThread_.join();
    }
}

bool AppContext::Init(RegisterHost* host) {
    if (serverThread_.joinable()) return false;  // one server thread per context

    platform::JoinMultithreadedApartment();
    WriteAppLog("Init from [" + iniPath + "]");
    const SettingLog settingLog = [this](std::string_view entry) { WriteAppLog(entry); };
    std::optional<Settings> read = ReadSettings(iniPath, settingLog);
    if (!read) return false;
    settings = std::move(*read);
    access_.SetOrigins(settings.allowedOrigins);
    listenAddress =
        settings.listenAddress.empty() ? std::string(kEveryIpv4Address) : settings.listenAddress;
    if (!IsIpAddress(listenAddress)) {
        WriteAppLog("listenAddress is not an IP address [" + listenAddress + "]");
        return false;
    }
    std::string badEntry;
    if (!access_.SetClients(settings.allowedClients, badEntry)) {
        WriteAppLog("allowedClients holds neither an address nor a range [" + badEntry + "]");
        return false;
    }
    access_.SetHosts(platform::MachineNames(), settings.allowedHosts);
    registerHost = host;
    status.SetIdentity(iniPath, host != nullptr ? host->driverModel() : std::string());

    {
        std::lock_guard lock(pumpMutex_);
        exitRequested_ = false;
    }
    {
        std::lock_guard lock(doneMutex_);
        serverDone_ = false;
    }
    // Marked running before the thread starts, so that a stop that comes at once still
    // finds the thread and waits for it.
    serverRunning_ = true;
    try {
        serverThread_ = std::thread(&AppContext::ServerThread, this);
    } catch (const std::system_error&) {
        serverRunning_ = false;
        WriteAppLog("Nu pot crea thread Worker Thread");
        return false;
    }
    return true;
}

void AppContext::WriteAppLog(std::string_view text) const {
    std::lock_guard lock(logMutex_);
    AppendLogEntry(appLogPath, text);
}

bool AppContext::RequestServerExit() {
    std::lock_guard lock(pumpMutex_);
    exitRequested_ = true;
    if (eventPump_ != nullptr) {
        BeginServerStop();
        return true;
    }
    return serverRunning_;
}

void AppContext::BeginServerStop() {
    // No request begins any more; the one at the driver ends at its next serial transfer.
    driverQueue_->Stop();
    platform::InterruptSerialTransfers();
    EventPump* pump = eventPump_;
    WebServer* server = webServer_;
    pump->Post(
        [pump, server] { server->BeginShutdown(kStopAnswerGrace, [pump] { pump->PostExit(); }); });
}

bool AppContext::WaitForServerDone(std::chrono::milliseconds timeout) {
    if (!serverThread_.joinable()) return true;
    std::unique_lock lock(doneMutex_);
    return serverDoneEvent_.wait_for(lock, timeout, [this] { return serverDone_; });
}

void AppContext::ServerThread() {
    const platform::ComThreadScope com;
    try {
        EventPump pump;
        WebServer server(pump, CommandServerLimits());  // destroyed before the pump
        // Sends its last answers before the pump goes; outlives the driver queue, whose jobs
        // answer through it. Open before the port is: a retry must find its id.
        RequestJournal journal(journalPath, JournalSettingsOf(settings),
                               [this](std::string_view text) { WriteAppLog(text); });
        journal.Open();
        journal.SetObserver([this](const JournaledRequest& request, const RequestOutcome& outcome) {
            CountRequest(request, outcome);
        });
        journal_ = &journal;
        // Destroyed first: its jobs answer through the server's pump, and its thread is the
        // only one that touches the driver.
        DriverQueue driverQueue;
        server.OnPost([this](WebServer& s, WebRequest& r) { OnPostRequest(s, r); });
        server.OnGet([this](WebServer& s, WebRequest& r) { OnGetRequest(s, r); });
        std::string reason;
        if (!driverQueue.Start()) WriteAppLog("Nu pot crea thread-ul driverului");
        driverQueue.Submit({[this] { PublishDriverStatus(); }, [] {}});
        if (server.Host(listenAddress, settings.tcpPort, reason)) {
            WriteAppLog(std::string(kListeningEntry) + std::to_string(settings.tcpPort) +
                        ", address " + listenAddress);
            {
                std::lock_guard lock(pumpMutex_);
                eventPump_ = &pump;
                webServer_ = &server;
                driverQueue_ = &driverQueue;
                if (exitRequested_) BeginServerStop();
            }
            pump.Run();
            std::lock_guard lock(pumpMutex_);
            eventPump_ = nullptr;
            webServer_ = nullptr;
            driverQueue_ = nullptr;
        } else {
            WriteAppLog(std::string(kCannotListenEntry) + std::to_string(settings.tcpPort) + ": " +
                        reason);
        }
        driverQueue.Stop();
        driverQueue.Join();
        // The stop interrupted the serial transfers for the driver thread, which has ended.
        platform::ResumeSerialTransfers();
        journal_ = nullptr;
    } catch (const std::exception& error) {
        WriteAppLog(std::string(kCannotListenEntry) + std::to_string(settings.tcpPort) + ": " +
                    error.what());
    }
    MarkServerDone();
}

void AppContext::MarkServerDone() {
    serverRunning_ = false;
    {
        std::lock_guard lock(doneMutex_);
        serverDone_ = true;
    }
    serverDoneEvent_.notify_all();
}

void AppContext::OnPostRequest(WebServer&, WebRequest& request) {
    routes_.Handle(request, true);
}

void AppContext::OnGetRequest(WebServer&, WebRequest& request) {
    routes_.Handle(request, false);
}

void AppContext::HandleCommand(WebRequest& request, bool isPost, int refusalStatus,
                               std::string refusal) {
    // Handlers run only while the server thread's pump runs, with the journal and the
    // driver queue in place; the server always lets a command's answer come later.
    std::shared_ptr<PendingReply> reply = request.Defer();
    JournaledRequest record;
    record.client = request.clientAddress();
    if (!refusal.empty()) {
        RequestOutcome outcome;
        outcome.status = refusalStatus;
        outcome.reply = Refuse(std::move(refusal));
        journal_->Finish(record, outcome, reply);
        return;
    }
    const bool idInForm = isPost && request.HasPOST(kRequestIdParameter);
    const bool hasId = idInForm || request.HasGET(kRequestIdParameter);
    record.id = idInForm ? request.POST(kRequestIdParameter) : request.GET(kRequestIdParameter);
    RequestOutcome refused;
    Command command;
    if (hasId && !IsValidRequestId(record.id)) {
        // Refused before the text is even read: a till that sends a broken id learns it now.
        if (record.id.size() > kMaxRequestIdLength) record.id.resize(kMaxRequestIdLength);
        refused.status = kHttpBadRequest;
        refused.reply = Refuse(std::string(kInvalidRequestIdReply));
    } else if (!ReadCommand(request, isPost, command, refused.reply)) {
        refused.status = kHttpOk;
    }
    record.command = command.text;
    if (refused.status != 0) {
        journal_->Finish(record, refused, std::move(reply));
        return;
    }
    if (!hasId) {
        SubmitCommand(std::move(reply), std::move(command), std::move(record), 0);
        return;
    }
    AdmitWithId(std::move(reply), std::move(command), std::move(record));
}

void AppContext::AdmitWithId(std::shared_ptr<PendingReply> reply, Command command,
                             JournaledRequest record) {
    RequestOutcome outcome;
    // A request that waits for the run of its id takes a place in the driver queue as if it
    // waited there: waiting requests, of any kind, stay within the queue's bound.
    struct Waiting {
        JournaledRequest record;
        std::shared_ptr<void> place;
    };
    auto waiting = std::make_shared<Waiting>(
        Waiting{record, driverQueue_ != nullptr ? driverQueue_->HoldPlace() : nullptr});
    const std::size_t maxWaiters = waiting->place ? kMaxWaitersPerRequestId : 0;
    // The journal reads the waiter's token as its record.
    std::shared_ptr<void> token(waiting, &waiting->record);
    switch (journal_->ids().Admit(record.id, DigestOfCommandText(command.text), UnixMillisNow(),
                                  IdWaiter{reply, std::move(token)}, outcome.status, outcome.reply,
                                  maxWaiters)) {
        case IdAdmission::fresh: {
            waiting.reset();  // its place is the job's now
            const std::uint64_t ticket = journal_->RecordStart(record);
            if (ticket == 0) {
                outcome.status = kHttpServiceUnavailable;
                outcome.reply = Refuse(std::string(kJournalUnavailableReply));
                outcome.started = true;
                break;
            }
            SubmitCommand(std::move(reply), std::move(command), std::move(record), ticket);
            return;
        }
        case IdAdmission::joined:
            return;  // answered when the run it waits for ends
        case IdAdmission::busy:
            // Nothing ran: a later retry gets the answer of the run it could not wait for.
            outcome.status = kHttpServiceUnavailable;
            outcome.reply = Refuse(std::string(driverQueue_ != nullptr && driverQueue_->stopped()
                                                   ? kStoppingReply
                                                   : kPrinterBusyReply));
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
    journal_->Finish(record, outcome, std::move(reply));
}

bool AppContext::ReadCommand(const WebRequest& request, bool isPost, Command& command,
                             std::string& reply) const {
    command.hexNames = false;
    // A POST whose form carries no command text at all takes the CMD of its URL, as a GET
    // does: answered "OK|" unprinted, a receipt the till believes printed would be lost.
    const bool fromForm = isPost && (request.HasPOST("CMD") || request.HasPOST("CMDBASE64") ||
                                     request.HasPOST("CMDBASE64HEX"));
    command.text = fromForm ? request.POST("CMD") : request.GET("CMD");
    if (command.text.size() > kMaxCommandTextLength) {
        reply = kCommandTooLongReply;
        return false;
    }
    if (fromForm && command.text.empty()) {
        // CMD wins; a plain CMD is never Base64-decoded.
        std::string encoded = request.POST("CMDBASE64");
        if (encoded.empty()) {
            encoded = request.POST("CMDBASE64HEX");
            command.hexNames = true;
        }
        if (encoded.size() > kMaxCommandTextLength) {
            reply = kCommandTooLongReply;
            return false;
        }
        std::size_t invalidPosition = 0;
        if (!Base64Decode(encoded, command.text, invalidPosition)) {
            // Refused before anything runs: a part of a broken text is no receipt.
            reply = Refuse(std::string(kInvalidBase64Reply) + std::to_string(invalidPosition));
            return false;
        }
    }
    CutAtFirstZeroByte(command.text);

    if (settings.debugMode) {
        WriteAppLog(command.text);
        if (isPost) {
            std::lock_guard lock(logMutex_);
            AppendRequestLogEntry(requestLogPath, EscapeHtml(command.text));
        }
    }
    if (CountCommandLines(command.text) > static_cast<std::size_t>(settings.maxCommandLines)) {
        reply = Refuse(std::string(kTooManyLinesReply) + std::to_string(settings.maxCommandLines) +
                       std::string(kTooManyLinesTail));
        return false;
    }
    return true;
}

void AppContext::SubmitCommand(std::shared_ptr<PendingReply> reply, Command command,
                               JournaledRequest record, std::uint64_t startTicket) {
    RequestJournal* journal = journal_;
    const bool started = !record.id.empty();
    DriverJob job;
    job.refuse = [journal, record, reply, started] {
        RequestOutcome outcome;
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = kStoppingReply;
        outcome.started = started;
        journal->Finish(record, outcome, reply);
    };
    job.run = [this, journal, command, record, startTicket, reply] {
        RunQueuedCommand(command, record, startTicket, reply, *journal);
        PublishDriverStatus();
    };
    if (driverQueue_ == nullptr || !driverQueue_->Submit(std::move(job))) {
        // Answered at once, without touching the printer: the till may try again later.
        const bool stopping = driverQueue_ != nullptr && driverQueue_->stopped();
        RequestOutcome outcome;
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = Refuse(std::string(stopping ? kStoppingReply : kPrinterBusyReply));
        outcome.started = started;
        journal->Finish(record, outcome, std::move(reply));
    }
}

void AppContext::RunQueuedCommand(const Command& command, const JournaledRequest& record,
                                  std::uint64_t startTicket,
                                  const std::shared_ptr<PendingReply>& reply,
                                  RequestJournal& journal) {
    const bool started = !record.id.empty();
    RequestOutcome outcome;
    outcome.started = started;
    const bool wanted =
        started ? journal.ids().AnyoneWaits(record.id, reply) : !reply->clientGone();
    if (!wanted) {
        // Nobody waits for it: printing it would only print twice when the till tries again.
        WriteAppLog("Request dropped unprinted: its client went away before its turn [" +
                    command.text + "]");
        outcome.note = kDroppedNote;
        journal.Finish(record, outcome, nullptr);
        return;
    }
    if (started && !journal.WaitDurable(startTicket)) {
        // Without its start on the disk, a crash during the run could print it twice.
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = Refuse(std::string(kJournalUnavailableReply));
        journal.Finish(record, outcome, reply);
        return;
    }
    const std::uint64_t refusedBefore = platform::RefusedSerialTransfers();
    outcome.reply = ExecuteCommand(command);
    outcome.status = kHttpOk;
    outcome.ran = true;
    if (platform::RefusedSerialTransfers() != refusedBefore) {
        // The stop interrupted a transfer to the printer: whatever the interpreter made of
        // it, the request did not go out whole.
        AbandonCutShortReceipt();
        outcome.status = kHttpServiceUnavailable;
        outcome.reply = kCutShortReply;
    }
    journal.Finish(record, outcome, reply);
}

std::string AppContext::ExecuteCommand(const Command& command) const {
    std::string replyText;
    VirtualRegister* driver = registerHost != nullptr ? registerHost->driver() : nullptr;
    const bool succeeded = ExecuteCommandText(command.text, replyText, command.hexNames, driver);
    std::string reply(succeeded ? kReplySuccessPrefix : kReplyFailurePrefix);
    reply += replyText;
    return reply;
}

void AppContext::CountRequest(const JournaledRequest& request, const RequestOutcome& outcome) {
    if (outcome.replay) {
        status.CountReplay();
    } else if (!outcome.ran) {
        status.CountRequest(RequestResult::refused);
    } else {
        status.CountRequest(outcome.reply.starts_with(kReplySuccessPrefix) ? RequestResult::ok
                                                                           : RequestResult::error,
                            std::chrono::steady_clock::now() - request.received);
    }
}

void AppContext::PublishDriverStatus() {
    status.PublishDriver(registerHost != nullptr ? registerHost->driver() : nullptr);
}

// The receipt of a request that the stop cut short goes, on the driver thread, after that
// request: the interpreter has abandoned what the failed request opened; a receipt still open
// (begun by an earlier request) goes too, so that nothing of it reaches the printer later.
void AppContext::AbandonCutShortReceipt() {
    // Later work of the driver reaches the printer again.
    platform::ResumeSerialTransfers();
    VirtualRegister* driver = registerHost != nullptr ? registerHost->driver() : nullptr;
    if (driver != nullptr) driver->AbandonReceipt("its request was cut short by the service stop");
    WriteAppLog("Request cut short by the service stop; its receipt abandoned");
}

std::string AppContext::Refuse(std::string reply) const {
    if (settings.debugMode) WriteAppLog(reply);
    return reply;
}

}  // namespace tillvane
