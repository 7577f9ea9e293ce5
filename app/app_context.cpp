#include "app/app_context.h"

#include <optional>
#include <system_error>
#include <utility>

#include "app/app_files.h"
#include "app/app_log.h"
#include "http/event_pump.h"
#include "http/web_request.h"
#include "http/web_server.h"
#include "platform/com_apartment.h"
#include "platform/machine_name.h"
#include "platform/program_path.h"
#include "registers/register_host.h"
#include "requests/driver_queue.h"
#include "requests/replies.h"
#include "status/request_counting.h"
#include "status/status_endpoints.h"
#include "status/status_page.h"
#include "status/status_report.h"

namespace tillvane {

namespace {

WebServerLimits CommandServerLimits() {
    WebServerLimits limits;
    limits.maxHeaderBytes = kMaxRequestHeaderBytes;
    limits.maxBodyBytes = kMaxRequestBodyBytes;
    limits.maxPathLength = kRequestPathCapacity - 1;
    limits.maxConnectionsPerAddress = kConnectionsPerClientAddress;
    return limits;
}

// The start fails as it does for a value of `accessKey` that does not parse.
std::uint32_t MisspeltKeyStartCode(std::string_view accessKey) {
    if (accessKey == kApiTokensKey) return kStartInvalidTokens;
    if (accessKey == kAllowedClientsKey) return kStartInvalidClients;
    if (accessKey == kListenAddressKey) return kStartUnusableAddress;
    return kStartMisspeltAccessKey;
}

JournalSettings JournalSettingsOf(const Settings& settings) {
    JournalSettings journal;
    journal.idRetention = settings.idRetention;
    journal.journalRetention = settings.journalRetention;
    return journal;
}

}  // namespace

AppContext::AppContext() : AppContext(platform::ProgramPath()) {}

AppContext::AppContext(const std::string& programPath, InstanceIdentity instance)
    : iniPath(AppFilePath(programPath, AppFile::configuration, instance.name)),
      appLogPath(AppFilePath(programPath, AppFile::applicationLog, instance.name)),
      requestLogPath(AppFilePath(programPath, AppFile::requestLog, instance.name)),
      journalPath(AppFilePath(programPath, AppFile::requestJournal, instance.name)),
      access_([this](std::string_view text) { WriteAppLog(text); }),
      routes_(
          access_,
          RouteHandlers{
              [this](WebRequest& request) {
                  return AnswerStatusRequest(
                      request, status, pipeline_ != nullptr ? pipeline_->queue().waiting() : 0);
              },
              [this](const CommandRequest& request, std::shared_ptr<CommandAnswer> answer) {
                  pipeline_->Accept(request, std::move(answer));
              },
              [this](std::string reply) { return pipeline_->Refuse(std::move(reply)); },
              {std::string(kStatusPath), std::string(kStatusPagePath), std::string(kMetricsPath)},
              {std::string(kStatusPath), std::string(kMetricsPath)}}) {
    status.SetInstance(std::move(instance.serviceName));
}

AppContext::~AppContext() {
    if (serverThread_.joinable()) {
        // The handlers use this object: it may not go before the thread does.
        RequestServerExit();
        serverThread_.join();
    }
}

ServerStart AppContext::FailStart(std::uint32_t code, std::string reason) {
    WriteAppLog(reason);
    return ServerStart{code, std::move(reason)};
}

ServerStart AppContext::Init(RegisterHost* host) {
    if (serverThread_.joinable()) {
        return ServerStart{kStartServerFailed, "the server thread runs already"};
    }

    platform::JoinMultithreadedApartment();
    WriteAppLog("Init from [" + iniPath + "]");
    std::string loadFailure;
    Result<Settings> read = ReadSettings(
        iniPath,
        [&](std::string_view entry) {
            loadFailure = entry;
            WriteAppLog(entry);
        },
        RegisterHost::SettingKeys());
    if (!read) return ServerStart{kStartNoConfiguration, loadFailure};
    settings = std::move(*read);
    if (const auto& misspelt = settings.misspeltAccessKey) {
        // Ignored, it would leave open what the shop meant to close.
        return FailStart(MisspeltKeyStartCode(misspelt->accessKey),
                         "Unknown key [" + misspelt->key + "] looks like " +
                             std::string(misspelt->accessKey) +
                             ", which guards access: correct or remove it");
    }
    access_.SetOrigins(settings.allowedOrigins);
    listenAddress =
        settings.listenAddress.empty() ? std::string(kEveryIpv4Address) : settings.listenAddress;
    if (settings.tcpPort <= 0 || settings.tcpPort > kMaxTcpPort) {
        return FailStart(kStartInvalidTcpPort, std::string(kCannotListenEntry) +
                                                   std::to_string(settings.tcpPort) +
                                                   ": tcpPort is missing or not a TCP port");
    }
    if (!IsIpAddress(listenAddress)) {
        return FailStart(kStartUnusableAddress,
                         "listenAddress is not an IP address [" + listenAddress + "]");
    }
    std::string badEntry;
    if (!access_.SetClients(settings.allowedClients, badEntry)) {
        return FailStart(kStartInvalidClients,
                         "allowedClients holds neither an address nor a range [" + badEntry + "]");
    }
    access_.SetHosts(platform::MachineNames(), settings.allowedHosts);
    std::string tokenFault;
    if (!access_.SetTokens(settings.apiTokens, tokenFault)) {
        return FailStart(kStartInvalidTokens, tokenFault);
    }
    registerHost = host;
    status.SetIdentity(iniPath, host != nullptr ? host->driverModel() : std::string());
    status.SetReceiptWaitAlert(settings.receiptWaitAlert);

    {
        std::lock_guard lock(pumpMutex_);
        exitRequested_ = false;
    }
    {
        std::lock_guard lock(doneMutex_);
        serverDone_ = false;
        listening_.reset();
    }
    // Marked running before the thread starts, so that a stop that comes at once still
    // finds the thread and waits for it.
    serverRunning_ = true;
    try {
        serverThread_ = std::thread(&AppContext::ServerThread, this);
    } catch (const std::system_error&) {
        serverRunning_ = false;
        return FailStart(kStartServerFailed, "Nu pot crea thread Worker Thread");
    }
    std::unique_lock lock(doneMutex_);
    serverDoneEvent_.wait(lock, [this] { return listening_.has_value(); });
    return *listening_;
}

void AppContext::ReportListening(ServerStart outcome) {
    {
        std::lock_guard lock(doneMutex_);
        if (listening_) return;
        listening_ = std::move(outcome);
    }
    serverDoneEvent_.notify_all();
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
    pipeline_->Stop();
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
        // A till tells a failure by "ERR|", whoever refused it.
        server.SetRefusalPrefix(std::string(kReplyFailurePrefix));
        // Open before the port is: a retry must find its id.
        RequestJournal journal(journalPath, JournalSettingsOf(settings),
                               [this](std::string_view text) { WriteAppLog(text); });
        // Sends its last answers before the pump goes; outlives the pipeline, whose stages
        // answer through it.
        journal.ObserveState(
            [this](std::string_view problem) { status.SetJournalProblem(problem); });
        AnswerDelivery delivery(journal);
        if (journal.Open() && !delivery.Start()) {
            journal.Disable();
            WriteAppLog("Request journal: cannot create its thread");
            status.SetJournalProblem("cannot create its thread");
        }
        // Destroyed first: its jobs answer through the server's pump, and its driver thread is
        // the only one that touches the driver.
        RequestPipeline pipeline(journal, delivery, PipelineOptionsOf());
        DriverQueue& driverQueue = pipeline.queue();
        server.OnPost([this](WebServer& s, WebRequest& r) { OnPostRequest(s, r); });
        server.OnGet([this](WebServer& s, WebRequest& r) { OnGetRequest(s, r); });
        server.OnOptions([this](WebServer&, WebRequest& r) { routes_.Preflight(r); });
        if (!driverQueue.Start()) WriteAppLog("Nu pot crea thread-ul driverului");
        driverQueue.Submit({[this] { PublishDriverStatus(); }, [] {}});
        const platform::Error listenError = server.Host(listenAddress, settings.tcpPort);
        if (listenError.ok()) {
            WriteAppLog(std::string(kListeningEntry) + std::to_string(settings.tcpPort) +
                        ", address " + listenAddress);
            ReportListening(ServerStart{});
            {
                std::lock_guard lock(pumpMutex_);
                eventPump_ = &pump;
                webServer_ = &server;
                pipeline_ = &pipeline;
                if (exitRequested_) BeginServerStop();
            }
            pump.Run();
            std::lock_guard lock(pumpMutex_);
            eventPump_ = nullptr;
            webServer_ = nullptr;
            pipeline_ = nullptr;
        } else {
            const std::uint32_t code = listenError.nameTaken()     ? kStartPortInUse
                                       : listenError.nameMissing() ? kStartUnusableAddress
                                                                   : kStartServerFailed;
            ReportListening(FailStart(code, std::string(kCannotListenEntry) +
                                                std::to_string(settings.tcpPort) + ": " +
                                                listenError.text()));
        }
        pipeline.Stop();
        pipeline.Join();
        access_.FlushRefusalLog();
    } catch (const std::exception& error) {
        ReportListening(FailStart(kStartServerFailed, std::string(kCannotListenEntry) +
                                                          std::to_string(settings.tcpPort) + ": " +
                                                          error.what()));
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

PipelineOptions AppContext::PipelineOptionsOf() {
    PipelineOptions options;
    options.debugMode = settings.debugMode;
    options.maxCommandLines = settings.maxCommandLines;
    options.driver = [this] { return registerHost != nullptr ? registerHost->driver() : nullptr; };
    options.log = [this](std::string_view text) { WriteAppLog(text); };
    options.logPostedCommand = [this](std::string_view text) {
        std::lock_guard lock(logMutex_);
        AppendRequestLogEntry(requestLogPath, text);
    };
    options.afterRun = [this] { PublishDriverStatus(); };
    options.outcome = [this](const JournaledRequest& request, const RequestOutcome& outcome) {
        CountRequest(status, request, outcome);
    };
    return options;
}

void AppContext::PublishDriverStatus() {
    status.PublishDriver(registerHost != nullptr ? registerHost->driver() : nullptr);
}

}  // namespace tillvane
