#pragma once
// The application object of the web front end: the files beside the program, the settings
// tcpPort and DebugMode, the web server thread with its request handlers, and the way the
// service worker stops that thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "commands/command_interpreter.h"
#include "http/client_access.h"
#include "http/host_check.h"
#include "platform/cancel_token.h"
#include "requests/driver_queue.h"
#include "requests/journal/request_journal.h"
#include "status/service_status.h"

namespace tillvane {

class EventPump;
class PendingReply;
class RegisterHost;
class VirtualRegister;
class WebRequest;
class WebServer;
struct WebServerLimits;

// Sizes of one request's texts, terminator counted as the front end always has: a longer path
// or command text is refused, never cut into a different one.
inline constexpr std::size_t kRequestPathCapacity = 4088;
inline constexpr std::size_t kCommandTextCapacity = kMaxCommandTextLength + 1;
// Room for a request line whose CMD query parameter carries the longest command text with
// every byte percent-encoded, and for ordinary header fields besides.
inline constexpr std::size_t kPercentEncodedBytesPerByte = 3;
inline constexpr std::size_t kHeaderFieldsAllowance = 8 * 1024;
inline constexpr std::size_t kMaxRequestHeaderBytes =
    kPercentEncodedBytesPerByte * kMaxCommandTextLength + kHeaderFieldsAllowance;
// A form body holds the longest command text percent-encoded, and room for other fields or
// the multipart framing besides; a larger body is refused before it is read.
inline constexpr std::size_t kMaxRequestBodyBytes =
    kPercentEncodedBytesPerByte * kMaxCommandTextLength + kHeaderFieldsAllowance;

// Lines a command text may hold (maxCommandLines); a longer text is refused before any line
// runs, so that one request cannot hold the printer for hours.
inline constexpr int kDefaultMaxCommandLines = 1000;
// How long a stop waits for the answers still owed to clients before the server closes.
inline constexpr std::chrono::milliseconds kStopAnswerGrace{5000};

inline constexpr std::string_view kCommandPath = "REGCMD";
inline constexpr std::string_view kReplySuccessPrefix = "OK|";
inline constexpr std::string_view kReplyFailurePrefix = "ERR|";
inline constexpr std::string_view kCommandTooLongReply = "ERR|command text too long";
// Followed by the position of the first character that is no Base64, counted from 1.
inline constexpr std::string_view kInvalidBase64Reply = "ERR|invalid Base64 at position ";
// A POST body that is not a form: "ERR|unsupported Content-Type <type>; send ...", with the
// media type in lower case and without parameters, or "(none)" when the request named none.
inline constexpr std::string_view kUnsupportedContentTypeReply = "ERR|unsupported Content-Type ";
inline constexpr std::string_view kNoContentTypeName = "(none)";
inline constexpr std::string_view kSendUrlEncodedHint = "; send application/x-www-form-urlencoded";
inline constexpr int kHttpUnsupportedMediaType = 415;
inline constexpr int kHttpForbidden = 403;
inline constexpr int kHttpServiceUnavailable = 503;
// Followed by the line bound: "ERR|command text has more than 1000 lines".
inline constexpr std::string_view kTooManyLinesReply = "ERR|command text has more than ";
inline constexpr std::string_view kTooManyLinesTail = " lines";
// A browser request from another site whose origin is not in allowedOrigins.
inline constexpr std::string_view kCrossSiteReply = "ERR|cross-site request refused";
// Every place in the driver queue is taken.
inline constexpr std::string_view kPrinterBusyReply = "ERR|printer busy";
// The service stops: a request that had not begun, and one that the stop cut short.
inline constexpr std::string_view kStoppingReply = "ERR|service stopping";
inline constexpr std::string_view kCutShortReply =
    "ERR|service stopping: the request was cut short and its receipt abandoned";
// A request id: 1 to 64 characters of A-Z a-z 0-9 . _ : - (REQUESTID beside CMD).
inline constexpr std::string_view kRequestIdParameter = "REQUESTID";
inline constexpr std::size_t kMaxRequestIdLength = 64;
inline constexpr std::string_view kInvalidRequestIdReply = "ERR|invalid REQUESTID";
inline constexpr std::string_view kRequestIdReusedReply =
    "ERR|REQUESTID already used for another command";
inline constexpr std::string_view kOutcomeUnknownReply =
    "ERR|outcome unknown: the service stopped while this request ran; check the printer before "
    "retrying with a new REQUESTID";
inline constexpr std::string_view kJournalUnavailableReply =
    "ERR|request journal cannot be written; nothing was printed";
inline constexpr std::string_view kDroppedNote =
    "dropped unprinted: its client went away before its turn";
inline constexpr int kHttpBadRequest = 400;
inline constexpr int kHttpConflict = 409;
// Longest retention of request ids and journal files a setting may ask for.
inline constexpr double kMaxRetentionDays = 36500;
// Application-log entries of the web server's start, followed by the port and what the entry
// names: "Web server listening on port 8088, address 0.0.0.0", or the port, ": " and why not.
inline constexpr std::string_view kListeningEntry = "Web server listening on port ";
inline constexpr std::string_view kCannotListenEntry = "Nu pot porni serverul web pe portul ";
// One client address may hold every place at the driver (the request that runs and those
// that wait) and as many connections again: a till that fills the queue still gets its
// "printer busy" answers, its status pages and its next requests.
inline constexpr std::size_t kConnectionsPerClientAddress = 2 * (kMaxWaitingDriverRequests + 1);
// Longest Host value that a refusal's log entry repeats.
inline constexpr std::size_t kMaxLoggedHostLength = 255;
inline constexpr std::string_view kActiveOnPost = "Tillvane service is active on_post";
inline constexpr std::string_view kActiveOnGet = "Tillvane service is active on_get";

class AppContext {
  public:
    // Derives the file paths from the running program's path.
    AppContext();
    explicit AppContext(const std::string& programPath);
    // Stops the server thread, if it still runs, and waits for it to end.
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // Reads tcpPort, listenAddress, allowedClients, allowedHosts, DebugMode, maxCommandLines
    // and allowedOrigins from iniPath and starts the server thread. A listenAddress or an
    // allowedClients entry that does not parse keeps the server from starting: a fence that
    // is not what its owner wrote should not open. False, with an
    // application-log entry, when the configuration cannot be loaded or the thread cannot be
    // created; the service runs on without a web server then.
    bool Init(RegisterHost* host);

    // Appends one entry to the application log; dropped when the log cannot be opened.
    void WriteAppLog(std::string_view text) const;

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

    // The request handlers; they run on the server thread, one request at a time.
    void OnPostRequest(WebServer& server, WebRequest& request);
    void OnGetRequest(WebServer& server, WebRequest& request);

    std::string iniPath;
    std::string appLogPath;
    std::string requestLogPath;
    std::string journalPath;
    int tcpPort = 0;
    bool debugMode = false;
    int maxCommandLines = kDefaultMaxCommandLines;
    // Origins ("http://host:port") whose browser pages may use the service.
    std::vector<std::string> allowedOrigins;
    // How long request ids are remembered (requestIdDays) and journal files kept
    // (journalDays); fractions of a day allowed.
    JournalSettings journalSettings;
    // The address the server listens on, and the clients it serves.
    std::string listenAddress;
    ClientAccess allowedClients;
    // The names a request's Host header may give besides IP addresses and "localhost": the
    // machine's own and allowedHosts.
    HostCheck allowedHosts;
    RegisterHost* registerHost = nullptr;  // not owned
    // What /status and /metrics show.
    ServiceStatus status;

  private:
    struct Command {
        std::string text;
        bool hexNames = false;
        std::chrono::steady_clock::time_point arrived;
    };

    void ServerThread();
    // Starts the stop of a server whose pump exists; with pumpMutex_ held.
    void BeginServerStop();
    void HandleRequest(WebRequest& request, bool isPost);
    // A request to REGCMD: its id and text checked, then run, replayed or refused; the answer
    // goes out once the journal holds it.
    void HandleCommand(WebRequest& request, bool isPost, std::shared_ptr<PendingReply> reply,
                       JournaledRequest record);
    // A request with a valid id and a readable text.
    void AdmitWithId(std::shared_ptr<PendingReply> reply, Command command, JournaledRequest record);
    // False when a browser sent the request from a site whose origin is not allowed.
    bool AdmitOrigin(WebRequest& request) const;
    // False, with the refusal in `request` and a log entry, for a client outside
    // allowedClients.
    bool AdmitClient(WebRequest& request) const;
    // False, with the refusal in `request` and a log entry, for a request whose Host header
    // names neither this machine nor an allowed name.
    bool AdmitHost(WebRequest& request) const;
    // Reads the command text of `request`; false with the refusal in `reply` when it may not
    // run.
    bool ReadCommand(const WebRequest& request, bool isPost, Command& command,
                     std::string& reply) const;
    // Queues the command for the driver thread, or refuses it when the queue is full.
    // `startTicket`: the journal's start record of a request with an id.
    void SubmitCommand(std::shared_ptr<PendingReply> reply, Command command,
                       JournaledRequest record, std::uint64_t startTicket);
    // On the driver thread: runs the command, unless nobody waits for it any more, and
    // answers it through the journal.
    void RunQueuedCommand(const Command& command, const JournaledRequest& record,
                          std::uint64_t startTicket, const std::shared_ptr<PendingReply>& reply,
                          RequestJournal& journal);
    // The reply to a command: status prefix and the interpreter's reply text.
    std::string ExecuteCommand(const Command& command) const;
    // Counts an ended request for /status and /metrics.
    void CountRequest(const JournaledRequest& request, const RequestOutcome& outcome);
    // On the driver thread: lets the status show the driver's state.
    void PublishDriverStatus();
    // Abandons the receipt of a request that the stop cut short.
    void AbandonCutShortReceipt();
    // A request refused before its text runs: the reply, logged in debug mode.
    std::string Refuse(std::string reply) const;
    void MarkServerDone();

    mutable std::mutex logMutex_;  // the logs are written from the server and driver threads

    std::atomic<bool> serverRunning_{false};
    // Cancelled by the stop: the driver's serial transfers then fail at once, and a run
    // learns from its refusals that it was cut short.
    platform::CancelToken cancelToken_;

    std::mutex pumpMutex_;  // guards eventPump_, webServer_, driverQueue_ and exitRequested_
    EventPump* eventPump_ = nullptr;
    WebServer* webServer_ = nullptr;
    DriverQueue* driverQueue_ = nullptr;
    RequestJournal* journal_ = nullptr;  // set before the pump runs, by the server thread
    bool exitRequested_ = false;

    std::mutex doneMutex_;  // guards serverDone_
    std::condition_variable serverDoneEvent_;
    bool serverDone_ = false;

    std::thread serverThread_;
};

// The one application context of the process: set by construction, cleared by destruction.
extern std::atomic<AppContext*> currentAppContext;

}  // namespace tillvane
