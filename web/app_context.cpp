#include "web/app_context.h"

#include <algorithm>
#include <system_error>

#include "config/ini_loader.h"
#include "config/numbers.h"
#include "platform/com_apartment.h"
#include "platform/program_path.h"
#include "registers/register_host.h"
#include "web/app_files.h"
#include "web/app_log.h"
#include "web/base64.h"
#include "web/event_pump.h"
#include "web/web_request.h"
#include "web/web_server.h"

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
    limits.maxPathLength = kRequestPathCapacity - 1;
    return limits;
}

}  // namespace

AppContext::AppContext() : AppContext(platform::ProgramPath()) {}

AppContext::AppContext(const std::string& programPath)
    : iniPath(AppFilePath(programPath, AppFile::configuration)),
      appLogPath(AppFilePath(programPath, AppFile::applicationLog)),
      requestLogPath(AppFilePath(programPath, AppFile::requestLog)) {
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
    registerHost = host;

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
    AppendLogEntry(appLogPath, text);
}

bool AppContext::RequestServerExit() {
    std::lock_guard lock(pumpMutex_);
    exitRequested_ = true;
    if (eventPump_ != nullptr) {
        eventPump_->PostExit();
        return true;
    }
    return serverRunning_;
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
        server.OnPost([this](WebServer& s, WebRequest& r) { OnPostRequest(s, r); });
        server.OnGet([this](WebServer& s, WebRequest& r) { OnGetRequest(s, r); });
        std::string reason;
        if (server.Host(tcpPort, reason)) {
            {
                std::lock_guard lock(pumpMutex_);
                eventPump_ = &pump;
                if (exitRequested_) pump.PostExit();
            }
            pump.Run();
            std::lock_guard lock(pumpMutex_);
            eventPump_ = nullptr;
        } else {
            WriteAppLog("Nu pot porni serverul web pe portul " + std::to_string(tcpPort) + ": " +
                        reason);
        }
    } catch (const std::exception& error) {
        WriteAppLog("Nu pot porni serverul web pe portul " + std::to_string(tcpPort) + ": " +
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
    if (isPost && request.bodyIsNotAForm()) {
        // The fields of any other body are unknown: running the empty text instead would
        // answer "OK|" for a request that did nothing.
        const std::string& type = request.bodyMediaType();
        request.SetStatus(kHttpUnsupportedMediaType);
        request.Write(Refuse(std::string(kUnsupportedContentTypeReply) +
                             (type.empty() ? std::string(kNoContentTypeName) : type) +
                             std::string(kSendUrlEncodedHint)));
        return;
    }
    const std::string& path = request.path();
    if (path == kCommandPath) {
        request.Write(RunCommand(request, isPost));
    } else if (path.empty()) {
        request.Write(isPost ? kActiveOnPost : kActiveOnGet);
    }
    // Any other path gets an empty body.
}

std::string AppContext::RunCommand(const WebRequest& request, bool isPost) {
    bool hexNames = false;
    std::string commandText = isPost ? request.POST("CMD") : request.GET("CMD");
    if (commandText.size() > kMaxCommandTextLength) return std::string(kCommandTooLongReply);
    if (isPost && commandText.empty()) {
        // CMD wins; a plain CMD is never Base64-decoded.
        std::string encoded = request.POST("CMDBASE64");
        if (encoded.empty()) {
            encoded = request.POST("CMDBASE64HEX");
            hexNames = true;
        }
        if (encoded.size() > kMaxCommandTextLength) return std::string(kCommandTooLongReply);
        std::size_t invalidPosition = 0;
        if (!Base64Decode(encoded, commandText, invalidPosition)) {
            // Refused before anything runs: a part of a broken text is no receipt.
            return Refuse(std::string(kInvalidBase64Reply) + std::to_string(invalidPosition));
        }
    }
    CutAtFirstZeroByte(commandText);

    if (debugMode) {
        WriteAppLog(commandText);
        if (isPost) AppendRequestLogEntry(requestLogPath, commandText);
    }

    std::string replyText;
    VirtualRegister* driver = registerHost != nullptr ? registerHost->driver() : nullptr;
    const bool succeeded = ExecuteCommandText(commandText, replyText, hexNames, driver);
    std::string reply(succeeded ? kReplySuccessPrefix : kReplyFailurePrefix);
    reply += replyText;
    return reply;
}

std::string AppContext::Refuse(std::string reply) const {
    if (debugMode) WriteAppLog(reply);
    return reply;
}

}  // namespace tillvane
