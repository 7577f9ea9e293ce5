#pragma once
// The application object of the web front end: the files beside the program, the settings
// read from them, and the server thread that wires the access policy, the routes, the request
// pipeline and the status to the web server; and the way the service worker stops that thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "api/access_policy.h"
#include "api/request_limits.h"
#include "app/log_files.h"
#include "app/server_start.h"
#include "commands/command_interpreter.h"
#include "config/settings.h"
#include "requests/driver_queue.h"
#include "requests/replies.h"
#include "status/service_status.h"

namespace tillvane {

class EventPump;
class RegisterHost;
class RequestPipeline;
class VirtualRegister;
class WebServer;

// The files of one service, beside its program.
struct AppPaths {
    std::string ini;
    std::string appLog;
    std::string requestLog;
    std::string journal;
};

// Room for a request line whose CMD query parameter carries the longest command text with
// every byte percent-encoded, and for ordinary header fields besides.
inline constexpr std::size_t kMaxRequestHeaderBytes =
    kPercentEncodedBytesPerByte * kMaxCommandTextLength + kHeaderFieldsAllowance;
// A form body holds the longest command text percent-encoded, and room for other fields or
// the multipart framing besides; a larger body is refused before it is read.
inline constexpr std::size_t kMaxRequestBodyBytes =
    kPercentEncodedBytesPerByte * kMaxCommandTextLength + kHeaderFieldsAllowance;
// One client address may hold every place at the driver (the request that runs and those
// that wait) and as many connections again: a till that fills the queue still gets its
// "printer busy" answers, its status pages and its next requests.
inline constexpr std::size_t kConnectionsPerClientAddress = 2 * (kMaxWaitingDriverRequests + 1);
// How long a stop waits for the answers still owed to clients before the server closes.
inline constexpr std::chrono::milliseconds kStopAnswerGrace{5000};
// Application-log entries of the web server's start, followed by the port and what the entry
// names: "Web server listening on port 8088, address 0.0.0.0", or the port, ": " and why not.
inline constexpr std::string_view kListeningEntry = "Web server listening on port ";
inline constexpr std::string_view kCannotListenEntry = "Nu pot porni serverul web pe portul ";

// Which instance of the service a context serves: the name its files carry (empty for the
// default instance) and the service name the status shows.
struct InstanceIdentity {
    std::string name;
    std::string serviceName;
};

class AppContext {
  public:
    // Derives the file paths from the running program's path.
    AppContext();
    explicit AppContext(const std::string& programPath, InstanceIdentity instance = {});
    // Stops the server thread, if it still runs, and waits for it to end.
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // Reads tcpPort, listenAddress, allowedClients, allowedHosts, DebugMode, maxCommandLines,
    // allowedOrigins and apiTokens from iniPath, starts the server thread and waits until the
    // server listens or cannot. A listenAddress, an allowedClients or an apiTokens entry that does
    // not parse keeps the server from starting: a fence that is not what its owner wrote should not
    // open. Fails, with an application-log entry and the cause's code, when the configuration
    // cannot be loaded, the server cannot listen or its thread cannot be created.
    ServerStart Init(RegisterHost* host);

    const AppPaths& paths() const { return paths_; }

    // Appends one entry to the application log; dropped when the log cannot be opened.
    void WriteAppLog(std::string_view text) const { logs_.WriteAppLog(text); }

    // Asks the server thread to leave its event loop: waiting requests are refused, the one
    // at the driver is cut short at its next serial transfer, the answers still owed are
    // written (within kStopAnswerGrace), then the loop ends. A request that comes before the
    // thread has created its pump is kept and honoured as soon as the pump exists. False when
    // no server thread runs.
    bool RequestServerExit();
    // True from Init until the server thread has ended.
    bool serverRunning() const { return serverRunning_; }
    // Waits at most `timeout` for the server thread to end; true when it has (or never ran).
    bool WaitForServerDone(std::chrono::milliseconds timeout);

  private:
    void ServerThread();
    // Starts the stop of a server whose pump exists; with pumpMutex_ held.
    void BeginServerStop();
    // Runs the server until it is asked to stop; with the journal open and the pump made.
    // `driver`: the one the pipeline runs its commands on (none without a printer).
    void Serve(EventPump& pump, WebServer& server, RequestPipeline& pipeline,
               const VirtualRegister* driver);
    void MarkServerDone();
    // Logs `reason` and returns it as the failed start `code`.
    ServerStart FailStart(std::uint32_t code, std::string reason);
    // Tells Init how the listening went; the first report counts.
    void ReportListening(ServerStart outcome);

    const AppPaths paths_;
    LogFiles logs_;
    // As the configuration file gives them.
    Settings settings_;
    // The address the server listens on.
    std::string listenAddress_;
    RegisterHost* registerHost_ = nullptr;  // not owned
    // What /status and /metrics show.
    ServiceStatus status_;
    // Who may use the service.
    AccessPolicy access_;

    std::atomic<bool> serverRunning_{false};

    std::mutex pumpMutex_;  // guards eventPump_, webServer_, pipeline_ and exitRequested_
    EventPump* eventPump_ = nullptr;
    WebServer* webServer_ = nullptr;
    RequestPipeline* pipeline_ = nullptr;  // set before the pump runs, by the server thread
    bool exitRequested_ = false;

    std::mutex doneMutex_;  // guards serverDone_ and listening_
    // Set by the server thread once its server listens or cannot.
    std::optional<ServerStart> listening_;
    std::condition_variable serverDoneEvent_;
    bool serverDone_ = false;

    std::thread serverThread_;
};

}  // namespace tillvane
