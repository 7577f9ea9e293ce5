#include "app/app_context.h"

#include <optional>
#include <system_error>
#include <utility>

#include "api/client_access.h"
#include "api/routes.h"
#include "app/app_files.h"
#include "app/published_status.h"
#include "app/service_observer.h"
#include "http/event_pump.h"
#include "http/web_server.h"
#include "platform/com_apartment.h"
#include "platform/machine_name.h"
#include "platform/program_path.h"
#include "registers/register_host.h"
#include "registers/text/receipt_backlog.h"
#include "requests/driver_queue.h"
#include "requests/journal/request_journal.h"
#include "requests/replies.h"
#include "requests/request_pipeline.h"
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

namespace {

AppPaths AppPathsOf(const std::string& programPath, const std::string& instanceName) {
    return {AppFilePath(programPath, AppFile::configuration, instanceName),
            AppFilePath(programPath, AppFile::applicationLog, instanceName),
            AppFilePath(programPath, AppFile::requestLog, instanceName),
            AppFilePath(programPath, AppFile::requestJournal, instanceName)};
}

}  // namespace

AppContext::AppContext(const std::string& programPath, InstanceIdentity instance)
    : paths_(AppPathsOf(programPath, instance.name)),
      logs_(paths_.appLog, paths_.requestLog),
      status_(CountWaitingReceipts),
      access_([this](std::string_view text) { WriteAppLog(text); }) {
    status_.SetInstance(std::move(instance.serviceName));
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
    WriteAppLog("Init from [" + paths_.ini + "]");
    std::string loadFailure;
    Result<Settings> read = ReadSettings(
        paths_.ini,
        [&](std::string_view entry) {
            loadFailure = entry;
            WriteAppLog(entry);
        },
        RegisterHost::SettingKeys());
    if (!read) return ServerStart{kStartNoConfiguration, loadFailure};
    settings_ = std::move(*read);
    if (const auto& misspelt = settings_.misspeltAccessKey) {
        // Ignored, it would leave open what the shop meant to close.
        return FailStart(MisspeltKeyStartCode(misspelt->accessKey),
                         "Unknown key [" + misspelt->key + "] looks like " +
                             std::string(misspelt->accessKey) +
                             ", which guards access: correct or remove it");
    }
    access_.SetOrigins(settings_.allowedOrigins);
    listenAddress_ =
        settings_.listenAddress.empty() ? std::string(kEveryIpv4Address) : settings_.listenAddress;
    if (settings_.tcpPort <= 0 || settings_.tcpPort > kMaxTcpPort) {
        return FailStart(kStartInvalidTcpPort, std::string(kCannotListenEntry) +
                                                   std::to_string(settings_.tcpPort) +
                                                   ": tcpPort is missing or not a TCP port");
    }
    if (!IsIpAddress(listenAddress_)) {
        return FailStart(kStartUnusableAddress,
                         "listenAddress is not an IP address [" + listenAddress_ + "]");
    }
    if (const platform::Error bad = access_.SetClients(settings_.allowedClients); !bad.ok()) {
        return FailStart(
            kStartInvalidClients,
            "allowedClients holds neither an address nor a range [" + bad.text() + "]");
    }
    access_.SetHosts(platform::MachineNames(), settings_.allowedHosts);
    if (const platform::Error fault = access_.SetTokens(settings_.apiTokens); !fault.ok()) {
        return FailStart(kStartInvalidTokens, fault.text());
    }
    registerHost_ = host;
    status_.SetIdentity(paths_.ini, host != nullptr ? host->driverModel() : std::string());
    status_.SetReceiptWaitAlert(settings_.receiptWaitAlert);

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
        VirtualRegister* driver = registerHost_ != nullptr ? registerHost_->driver() : nullptr;
        ServiceObserver observer(logs_, status_, driver);
        // Open before the port is: a retry must find its id.
        RequestJournal journal(paths_.journal, JournalSettingsOf(settings_), observer);
        // Sends its last answers before the pump goes; outlives the pipeline, whose stages
        // answer through it.
        AnswerDelivery delivery(journal);
        if (journal.Open().ok() && !delivery.Start().ok()) {
            journal.Disable();
            WriteAppLog("Request journal: cannot create its thread");
            status_.SetJournalProblem("cannot create its thread");
        }
        PipelineOptions options;
        options.debugMode = settings_.debugMode;
        options.maxCommandLines = settings_.maxCommandLines;
        options.driver = driver;
        // Destroyed first: its jobs answer through the server's pump, and its driver thread is
        // the only one that touches the driver.
        RequestPipeline pipeline(journal, delivery, options, observer);
        Serve(pump, server, pipeline, driver);
        pipeline.Stop();
        pipeline.Join();
        access_.FlushRefusalLog();
    } catch (const std::exception& error) {
        ReportListening(FailStart(kStartServerFailed, std::string(kCannotListenEntry) +
                                                          std::to_string(settings_.tcpPort) + ": " +
                                                          error.what()));
    }
    MarkServerDone();
}

void AppContext::Serve(EventPump& pump, WebServer& server, RequestPipeline& pipeline,
                       const VirtualRegister* driver) {
    DriverQueue& driverQueue = pipeline.queue();
    const PublishedStatus statusAnswers(status_, driverQueue);
    const Routes routes(
        access_, statusAnswers, pipeline,
        {{std::string(kStatusPath), std::string(kStatusPagePath), std::string(kMetricsPath)},
         {std::string(kStatusPath), std::string(kMetricsPath)}});
    routes.Serve(server);
    if (!driverQueue.Start().ok()) WriteAppLog("Nu pot crea thread-ul driverului");
    // The status shows the driver's state from the start.
    driverQueue.Submit({[this, driver] { status_.PublishDriver(driver); }, [] {}});
    const platform::Error listenError = server.Host(listenAddress_, settings_.tcpPort);
    if (!listenError.ok()) {
        const std::uint32_t code = listenError.nameTaken()     ? kStartPortInUse
                                   : listenError.nameMissing() ? kStartUnusableAddress
                                                               : kStartServerFailed;
        ReportListening(FailStart(code, std::string(kCannotListenEntry) +
                                            std::to_string(settings_.tcpPort) + ": " +
                                            listenError.text()));
        return;
    }
    WriteAppLog(std::string(kListeningEntry) + std::to_string(settings_.tcpPort) + ", address " +
                listenAddress_);
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
}

void AppContext::MarkServerDone() {
    serverRunning_ = false;
    {
        std::lock_guard lock(doneMutex_);
        serverDone_ = true;
    }
    serverDoneEvent_.notify_all();
}

}  // namespace tillvane
