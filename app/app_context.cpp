#include "app/app_context.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>

#include "app/app_files.h"
#include "app/app_log.h"
#include "base/base64.h"
#include "base/html_escape.h"
#include "base/numbers.h"
#include "base/text_split.h"
#include "base/utc_time.h"
#include "config/ini_loader.h"
#include "config/setting_values.h"
#include "http/event_pump.h"
#include "http/web_request.h"
#include "http/web_server.h"
#include "platform/com_apartment.h"
#include "platform/machine_name.h"
#include "platform/program_path.h"
#include "registers/register_host.h"
#include "requests/driver_queue.h"
#include "status/status_endpoints.h"

namespace tillvane {

std::atomic<AppContext*> currentAppContext{nullptr};

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

constexpr std::string_view kOriginHeader = "Origin";
constexpr std::string_view kHostHeader = "Host";
constexpr std::string_view kFetchSiteHeader = "Sec-Fetch-Site";
// Separators between the entries of allowedOrigins.
constexpr std::string_view kOriginSeparators = ", \t";

// Scheme and host are case-insensitive; a configured origin may end in "/".
std::string NormalisedOrigin(std::string_view origin) {
    while (origin.ends_with('/')) origin.remove_suffix(1);
    return ToLowerAscii(origin);
}

std::vector<std::string> ParseAllowedOrigins(std::string_view list) {
    std::vector<std::string> origins;
    for (const std::string_view origin : SplitList(list, kOriginSeparators)) {
        origins.push_back(NormalisedOrigin(origin));
    }
    return origins;
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

// A retention in days from the configuration (fractions allowed), in whole seconds rounded
// up: an id or a journal file is never dropped before the time the shop asked for.
std::chrono::seconds RetentionSetting(INILoader& configuration, const char* key, double defaultDays,
                                      const SettingLog& log) {
    const double days = ReadDaysSetting(configuration, key, defaultDays, kMaxRetentionDays, log);
    return std::chrono::seconds(
        std::max(1LL, static_cast<long long>(std::ceil(days * kSecondsPerDay))));
}

}  // namespace

AppContext::AppContext() : AppContext(platform::ProgramPath()) {}

AppContext::AppContext(const std::string& programPath)
    : iniPath(AppFilePath(programPath, AppFile::configuration)),
      appLogPath(AppFilePath(programPath, AppFile::applicationLog)),
      requestLogPath(AppFilePath(programPath, AppFile::requestLog)),
      journalPath(AppFilePath(programPath, AppFile::requestJournal)) {
    currentAppContext = this;
}

AppContext::~AppContext() {
    if (serverThread_.joinable()) {
        // The handlers use this object: it may not go before the thread does.
        RequestServerExit();
        serverThread_.join();
    }
    AppContext* self = this;
    currentAppContext.compare_exchange_strong(self, nullptr);
}

bool AppContext::Init(RegisterHost* host) {
    if (serverThread_.joinable()) return false;  // one server thread per context

    platform::JoinMultithreadedApartment();
    WriteAppLog("Init from [" + iniPath + "]");
    INILoader configuration;
    if (!configuration.Load(iniPath)) {
        WriteAppLog("Nu pot incarca fisierul de configurari [" + iniPath + "]");
        return false;
    }
    std::string value;
    configuration.GetValue(value, "tcpPort");
    tcpPort = ParseDecimalInt(value);
    configuration.GetValue(value, "DebugMode");
    debugMode = ParseDecimalInt(value) != 0;
    const SettingLog settingLog = [this](std::string_view entry) { WriteAppLog(entry); };
    maxCommandLines =
        ReadCountSetting(configuration, "maxCommandLines", kDefaultMaxCommandLines, settingLog);
    allowedOrigins.clear();
    if (configuration.GetValue(value, "allowedOrigins")) {
        allowedOrigins = ParseAllowedOrigins(value);
    }
    journalSettings.idRetention =
        RetentionSetting(configuration, "requestIdDays", kDefaultRequestIdDays, settingLog);
    journalSettings.journalRetention =
        RetentionSetting(configuration, "journalDays", kDefaultJournalDays, settingLog);
    listenAddress = std::string(kEveryIpv4Address);
    if (configuration.GetValue(value, "listenAddress") && !value.empty()) listenAddress = value;
    if (!IsIpAddress(listenAddress)) {
        WriteAppLog("listenAddress is not an IP address [" + listenAddress + "]");
        return false;
    }
    std::string badEntry;
    if (!allowedClients.Parse(configuration.GetValue(value, "allowedClients") ? value : "",
                              badEntry)) {
        WriteAppLog("allowedClients holds neither an address nor a range [" + badEntry + "]");
        return false;
    }
    allowedHosts.SetNames(platform::MachineNames(),
                          configuration.GetValue(value, "allowedHosts") ? value : "");
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
    cancelToken_.Cancel();
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
        RequestJournal journal(journalPath, journalSettings,
                               [this](std::string_view text) { WriteAppLog(text); });
        journal.Open();
        journal.SetObserver([this](const JournaledRequest& request, const RequestOutcome& outcome) {
            CountRequest(request, outcome);
        });
        journal_ = &journal;
        // Destroyed first: its jobs answer through the server's pump, and its thread is the
        // only one that touches the driver.
        DriverQueue driverQueue;
        // The stop cancels the token; the driver's serial transfers read it.
        if (registerHost != nullptr && registerHost->driver() != nullptr) {
            registerHost->driver()->SetCancelToken(&cancelToken_);
        }
        server.OnPost([this](WebServer& s, WebRequest& r) { OnPostRequest(s, r); });
        server.OnGet([this](WebServer& s, WebRequest& r) { OnGetRequest(s, r); });
        std::string reason;
        if (!driverQueue.Start()) WriteAppLog("Nu pot crea thread-ul driverului");
        driverQueue.Submit({[this] { PublishDriverStatus(); }, [] {}});
        if (server.Host(listenAddress, tcpPort, reason)) {
            WriteAppLog(std::string(kListeningEntry) + std::to_string(tcpPort) + ", address " +
                        listenAddress);
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
            WriteAppLog(std::string(kCannotListenEntry) + std::to_string(tcpPort) + ": " + reason);
        }
        driverQueue.Stop();
        driverQueue.Join();
        // The stop cancelled the serial transfers for the driver thread, which has ended.
        cancelToken_.Reset();
        if (registerHost != nullptr && registerHost->driver() != nullptr) {
            registerHost->driver()->SetCancelToken(nullptr);
        }
        journal_ = nullptr;
    } catch (const std::exception& error) {
        WriteAppLog(std::string(kCannotListenEntry) + std::to_string(tcpPort) + ": " +
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
    HandleRequest(request, true);
}

void AppContext::OnGetRequest(WebServer&, WebRequest& request) {
    HandleRequest(request, false);
}

void AppContext::HandleRequest(WebRequest& request, bool isPost) {
    if (!AdmitClient(request) || !AdmitHost(request)) return;
    const std::string& path = request.path();
    if (!isPost && AnswerStatusRequest(request, status,
                                       driverQueue_ != nullptr ? driverQueue_->waiting() : 0)) {
        return;
    }
    const bool isCommand = path == kCommandPath;
    int refusalStatus = kHttpOk;
    std::string refusal;
    if (!AdmitOrigin(request)) {
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
    if (!refusal.empty() && !isCommand) {
        request.SetStatus(refusalStatus);
        request.Write(Refuse(std::move(refusal)));
        return;
    }
    if (isCommand) {
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
        } else {
            HandleCommand(request, isPost, reply, std::move(record));
        }
    } else if (path.empty()) {
        request.Write(isPost ? kActiveOnPost : kActiveOnGet);
    }
    // Any other path gets an empty body.
}

void AppContext::HandleCommand(WebRequest& request, bool isPost,
                               std::shared_ptr<PendingReply> reply, JournaledRequest record) {
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

bool AppContext::AdmitClient(WebRequest& request) const {
    if (allowedClients.Allows(request.clientAddress())) return true;
    WriteAppLog("Client not allowed: " + request.clientAddress() + " /" + request.path());
    request.SetStatus(kHttpForbidden);
    request.Write(kClientNotAllowedReply);
    return false;
}

bool AppContext::AdmitHost(WebRequest& request) const {
    // A request without Host (HTTP/1.0) comes from a program, never from a browser's page.
    if (!request.HasHeader(kHostHeader)) return true;
    const std::string host = request.Header(kHostHeader);
    if (allowedHosts.Allows(host)) return true;
    WriteAppLog("Unknown Host refused: [" + host.substr(0, kMaxLoggedHostLength) + "] from " +
                request.clientAddress() + " /" + request.path());
    request.SetStatus(kHttpMisdirectedRequest);
    request.Write(kUnknownHostReply);
    return false;
}

bool AppContext::AdmitOrigin(WebRequest& request) const {
    // A browser marks what a page of another site makes it send; programs send neither.
    const bool hasOrigin = request.HasHeader(kOriginHeader);
    const std::string fetchSite = ToLowerAscii(request.Header(kFetchSiteHeader));
    const bool crossSite = hasOrigin || (request.HasHeader(kFetchSiteHeader) &&
                                         fetchSite != "same-origin" && fetchSite != "none");
    if (!crossSite) return true;
    const std::string origin = request.Header(kOriginHeader);
    if (hasOrigin && std::find(allowedOrigins.begin(), allowedOrigins.end(),
                               NormalisedOrigin(origin)) != allowedOrigins.end()) {
        // The page may read the answer.
        request.SetResponseHeader("Access-Control-Allow-Origin", origin);
        request.SetResponseHeader("Vary", "Origin");
        return true;
    }
    return false;
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

    if (debugMode) {
        WriteAppLog(command.text);
        if (isPost) {
            std::lock_guard lock(logMutex_);
            AppendRequestLogEntry(requestLogPath, EscapeHtml(command.text));
        }
    }
    if (CountCommandLines(command.text) > static_cast<std::size_t>(maxCommandLines)) {
        reply = Refuse(std::string(kTooManyLinesReply) + std::to_string(maxCommandLines) +
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
    const std::uint64_t refusedBefore = cancelToken_.refusals();
    outcome.reply = ExecuteCommand(command);
    outcome.status = kHttpOk;
    outcome.ran = true;
    if (cancelToken_.refusals() != refusedBefore) {
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
    cancelToken_.Reset();
    VirtualRegister* driver = registerHost != nullptr ? registerHost->driver() : nullptr;
    if (driver != nullptr) driver->AbandonReceipt("its request was cut short by the service stop");
    WriteAppLog("Request cut short by the service stop; its receipt abandoned");
}

std::string AppContext::Refuse(std::string reply) const {
    if (debugMode) WriteAppLog(reply);
    return reply;
}

}  // namespace tillvane
