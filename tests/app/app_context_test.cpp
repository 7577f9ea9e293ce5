// The application context: its logs, its request handlers over a real socket with the text
// driver behind them, its refusals, and how the worker stops its server thread.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/app_log.h"
#include "base/base64.h"
#include "http/event_pump.h"
#include "http/web_server.h"
#include "registers/register_host.h"
#include "tests/support/base64_encode.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_mode.h"
#include "tests/support/wait.h"

namespace tillvane {
namespace {

using testing::Base64Encode;
using testing::HttpConnection;
using testing::HttpResponse;
using testing::ReadFile;
using testing::UrlEncode;
using testing::WaitUntil;
using namespace std::chrono_literals;

constexpr auto kStartTimeout = 5000ms;
constexpr auto kStopTimeout = 5000ms;

// The texts of the log entries in `path`; every entry must be a line break, a date and time
// without leading zeros and " - ". A request log must open with the byte-order mark.
std::vector<std::string> LogTexts(const std::string& path, bool requestLog = false) {
    static const std::regex kHead(
        testing::kTextModeLineBreak +
        std::string(R"(\d{4}-[1-9]\d?-[1-9]\d? \d{1,2}:\d{1,2}:\d{1,2} - )"));
    std::string text = ReadFile(path);
    if (requestLog) {
        EXPECT_EQ(text.substr(0, kRequestLogByteOrderMark.size()), kRequestLogByteOrderMark);
        text.erase(0, kRequestLogByteOrderMark.size());
    }
    std::vector<std::string> texts;
    std::size_t end = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kHead);
         it != std::sregex_iterator(); ++it) {
        if (texts.empty()) {
            EXPECT_EQ(it->position(), 0) << "stray bytes before the first entry of " << path;
        } else {
            texts.back() = text.substr(end, static_cast<std::size_t>(it->position()) - end);
        }
        end = static_cast<std::size_t>(it->position() + it->length());
        texts.emplace_back();
    }
    if (!texts.empty()) texts.back() = text.substr(end);
    return texts;
}

class AppContextTest : public ::testing::Test {
  protected:
#ifdef _WIN32
    // Windows names the files from the upper-cased program path (its file system ignores case).
    std::string ProgramPath() const {
        return dir_.File("Tillvane_se.exe");
    }
    std::string IniPath() const {
        return Upper(dir_.File("Tillvane_se.ini"));
    }
    std::string AppLog() const {
        return Upper(dir_.File("Tillvane_se.log"));
    }
    std::string RequestLog() const {
        return Upper(dir_.File("Tillvane_se.html"));
    }
    static std::string Upper(std::string path) {
        for (char& c : path) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        return path;
    }
#else
    std::string ProgramPath() const {
        return dir_.File("Tillvane_se");
    }
    std::string IniPath() const {
        return dir_.File("Tillvane_se.ini");
    }
    std::string AppLog() const {
        return dir_.File("Tillvane_se.log");
    }
    std::string RequestLog() const {
        return dir_.File("Tillvane_se.html");
    }
#endif
    std::string Receipt() const {
        return ReadFile(dir_.path() / "out" / "bon.txt");
    }

    // Writes the configuration for `port` (by default one that was free a moment ago).
    void WriteConfig(const std::string& extra, int port = 0) {
        std::filesystem::create_directories(dir_.path() / "out");
        port_ = port != 0 ? port : testing::FreeTcpPort();
        testing::WriteFile(IniPath(), "tcpPort=" + std::to_string(port_) +
                                          "\r\ndriverModel=SELLTEXT\r\nTVA_GROUPS=A:1\r\n"
                                          // PT lines outside a receipt then succeed unprinted.
                                          "disabledCommands=P\r\n"
                                          "outputFileName=bon\r\noutputFolder=" +
                                          (dir_.path() / "out").string() + "\r\n" + extra);
    }

    // Starts the context on a port of its own: when another test took the port first, the
    // context is ended, its log entries taken back, and another port tried.
    void Start(const std::string& extraConfig = "DebugMode=1") {
        WriteConfig(extraConfig);
        (void)host_.Initialize(IniPath(), dir_.File("_Tillvane_se.log"));
        const int port = testing::ListenOnFreePort([&](int candidate) {
            WriteConfig(extraConfig, candidate);
            const std::size_t offset = testing::FileSize(AppLog());
            context_ = std::make_unique<AppContext>(ProgramPath());
            if (!context_->Init(&host_)) return testing::ListenOutcome::failed;
            const testing::ListenOutcome outcome = testing::AwaitListening(
                AppLog(), offset, candidate, [&] { return context_->serverRunning(); },
                kStartTimeout);
            if (outcome != testing::ListenOutcome::listening) {
                context_.reset();
                std::filesystem::resize_file(AppLog(), offset);
            }
            return outcome;
        });
        ASSERT_NE(port, 0) << ReadFile(AppLog());
    }

    void TearDown() override {
        if (!context_) return;
        context_->RequestServerExit();
        EXPECT_TRUE(context_->WaitForServerDone(kStopTimeout));
    }

    // The log entry of the server's start on port_.
    std::string ListeningEntry() const {
        return std::string(kListeningEntry) + std::to_string(port_) + ", address 0.0.0.0";
    }

    HttpResponse Post(const std::string& body) {
        return testing::PostForm(port_, "/REGCMD", body);
    }

    testing::TempDir dir_;
    RegisterHost host_;  // outlives the context, as in the worker
    std::unique_ptr<AppContext> context_;
    int port_ = 0;
};

TEST_F(AppContextTest, RunsTheCommandTextOfEachParameter) {
    Start();
    const std::string multipart =
        "--b\r\nContent-Disposition: form-data; name=\"CMD\"\r\n\r\nPT^multi\r\n--b--\r\n";
    struct Case {
        const char* name;
        bool post;
        std::string parameters;   // query or urlencoded body
        std::string commandText;  // what the interpreter got, as the application log shows it
    };
    const Case cases[] = {
        {"GET CMD", false, "CMD=" + UrlEncode("PT^get"), "PT^get"},
        {"GET ignores Base64", false, "CMDBASE64=" + Base64Encode("PT^x"), ""},
        {"POST CMD", true, "CMD=" + UrlEncode("PT^post"), "PT^post"},
        {"CMD wins, undecoded", true,
         "CMDBASE64=" + UrlEncode(Base64Encode("PT^b")) + "&CMD=" + UrlEncode(Base64Encode("PT^c")),
         Base64Encode("PT^c")},
        {"CMDBASE64", true, "CMDBASE64=" + UrlEncode(Base64Encode("PT^b64")), "PT^b64"},
        {"CMDBASE64 wins over HEX", true,
         "CMDBASE64HEX=" + Base64Encode("PT^h") + "&CMDBASE64=" + Base64Encode("PT^b"), "PT^b"},
        {"CMDBASE64HEX", true, "CMDBASE64HEX=" + UrlEncode(Base64Encode("PT^hex")), "PT^hex"},
        {"line breaks are skipped", true,
         "CMDBASE64=" + UrlEncode(Base64Encode("PT^abc|PT^d").substr(0, 8) + "\r\n" +
                                  Base64Encode("PT^abc|PT^d").substr(8)),
         "PT^abc|PT^d"},
        {"0 byte ends the text", true,
         "CMDBASE64=" + UrlEncode(Base64Encode(std::string("PT^z\0XR", 7))), "PT^z"},
        {"nothing", true, "", ""},
    };
    std::vector<std::string> expectedLog = {"Init from [" + IniPath() + "]", ListeningEntry()};
    std::vector<std::string> expectedRequestLog;
    for (const Case& c : cases) {
        const HttpResponse response =
            c.post ? Post(c.parameters) : testing::Get(port_, "/REGCMD?" + c.parameters);
        EXPECT_EQ(response.status, 200) << c.name;
        EXPECT_EQ(response.body, "OK|") << c.name;
        expectedLog.push_back(c.commandText);
        if (c.post) expectedRequestLog.push_back(c.commandText);
    }
    const HttpResponse response =
        testing::PostForm(port_, "/REGCMD", multipart, "multipart/form-data; boundary=b");
    EXPECT_EQ(response.body, "OK|");
    expectedLog.push_back("PT^multi");
    expectedRequestLog.push_back("PT^multi");
    EXPECT_EQ(LogTexts(AppLog()), expectedLog);
    EXPECT_EQ(LogTexts(RequestLog(), true), expectedRequestLog);
}

TEST_F(AppContextTest, HexFlagReachesTheInterpreterOnlyWithCmdBase64Hex) {
    Start();
    const std::string sale = "BS|SI^417061^2.50^1^A|AP^0^2.50|ES";
    EXPECT_EQ(Post("CMDBASE64HEX=" + UrlEncode(Base64Encode(sale))).body, "OK|");
    EXPECT_NE(Receipt().find(";Apa;"), std::string::npos) << Receipt();
    EXPECT_EQ(Post("CMDBASE64=" + UrlEncode(Base64Encode(sale))).body, "OK|");
    EXPECT_NE(Receipt().find(";417061;"), std::string::npos) << Receipt();
    EXPECT_EQ(Post("CMD=" + UrlEncode(sale)).body, "OK|");
    EXPECT_NE(Receipt().find(";417061;"), std::string::npos) << Receipt();
    // A failure comes back with the failure prefix and the interpreter's reason.
    const std::string reply = testing::Get(port_, "/REGCMD?CMD=" + UrlEncode("BS|SI^x^1^1^Z")).body;
    EXPECT_EQ(reply.rfind("ERR|", 0), 0u) << reply;
    EXPECT_GT(reply.size(), 4u);
}

TEST_F(AppContextTest, AnswersTheRootAndNothingElse) {
    Start();
    struct Case {
        bool post;
        std::string target;
        std::string body;
    };
    const Case cases[] = {
        {false, "/", "Tillvane service is active on_get"},
        {true, "/", "Tillvane service is active on_post"},
        {false, "/?CMD=XR", "Tillvane service is active on_get"},
        {false, "/regcmd?CMD=XR", ""},
        {true, "/regcmd", ""},
        {false, "/REGCMD/", ""},
        {true, "/other", ""},
    };
    HttpConnection connection(port_);  // all on one kept-alive connection
    for (const Case& c : cases) {
        const HttpResponse response =
            c.post ? connection.PostForm(c.target, "CMD=XR") : connection.Get(c.target);
        EXPECT_EQ(response.status, 200) << c.target;
        EXPECT_EQ(response.body, c.body) << c.target;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "out" / "bon.txt")) << "XR ran";
}

TEST_F(AppContextTest, LogsRequestsOnlyInDebugMode) {
    for (const std::string debugMode : {"DebugMode=0", "DebugMode=abc", "DebugMode=", ""}) {
        Start(debugMode);
        EXPECT_EQ(Post("CMD=PT%5Ex").body, "OK|");
        EXPECT_EQ(testing::Get(port_, "/REGCMD?CMD=PT%5Ex").body, "OK|");
        TearDown();
        context_.reset();
        EXPECT_EQ(LogTexts(AppLog()),
                  (std::vector<std::string>{"Init from [" + IniPath() + "]", ListeningEntry()}))
            << debugMode;
        EXPECT_FALSE(std::filesystem::exists(RequestLog())) << debugMode;
        std::filesystem::remove(AppLog());
    }
    Start("DebugMode= 7x");
    EXPECT_EQ(testing::Get(port_, "/REGCMD?CMD=PT%5Eget").body, "OK|");
    EXPECT_FALSE(std::filesystem::exists(RequestLog())) << "GET writes the application log only";
    EXPECT_EQ(Post("CMD=PT%5Eone").body, "OK|");
    EXPECT_EQ(Post("CMD=PT%5Etwo").body, "OK|");
    EXPECT_EQ(LogTexts(RequestLog(), true), (std::vector<std::string>{"PT^one", "PT^two"}));
    EXPECT_EQ(LogTexts(AppLog()),
              (std::vector<std::string>{"Init from [" + IniPath() + "]", ListeningEntry(), "PT^get",
                                        "PT^one", "PT^two"}));
}

TEST_F(AppContextTest, RefusesWhatDoesNotFitAndServesOthers) {
    Start("DebugMode=0");
    HttpConnection silent(port_);
    ASSERT_TRUE(silent.connected());
    {
        HttpConnection broken(port_);
        ASSERT_TRUE(broken.Send("POST /REGCMD HTTP/1.1\r\nContent-Length: 50\r\n\r\nCMD=B"));
    }
    const std::string longest(kMaxCommandTextLength, 'X');
    const std::string tooLong(kMaxCommandTextLength + 1, 'X');
    struct Case {
        const char* name;
        HttpResponse response;
        int status;
        std::optional<std::string> body;  // none: the text ran, any reply but the refusal
    };
    const Case cases[] = {
        {"POST CMD too long", Post("CMD=" + tooLong), 200, "ERR|command text too long"},
        {"GET CMD too long", testing::Get(port_, "/REGCMD?CMD=" + tooLong), 200,
         "ERR|command text too long"},
        {"CMDBASE64 too long", Post("CMDBASE64=" + tooLong), 200, "ERR|command text too long"},
        {"CMDBASE64HEX too long", Post("CMDBASE64HEX=" + tooLong), 200,
         "ERR|command text too long"},
        {"POST CMD longest", Post("CMD=" + longest), 200, std::nullopt},
        {"GET CMD longest", testing::Get(port_, "/REGCMD?CMD=" + longest), 200, std::nullopt},
        {"path too long", testing::Get(port_, "/" + std::string(kRequestPathCapacity, 'p')), 414,
         "ERR|request path too long"},
        {"longest path", testing::Get(port_, "/" + std::string(kRequestPathCapacity - 1, 'p')), 200,
         ""},
        {"invalid escape", testing::Get(port_, "/REGCMD?CMD=%XR"), 400,
         "ERR|invalid percent-encoding"},
        {"malformed", testing::SendRaw(port_, "POST\r\n\r\n"), 400, "ERR|malformed HTTP request"},
        {"huge body", Post("CMD=" + std::string(2 * kDefaultMaxBodyBytes, 'X')), 413,
         "ERR|request body too large"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.response.status, c.status) << c.name << " " << c.response.error;
        if (c.body) {
            EXPECT_EQ(c.response.body, *c.body) << c.name;
        } else {
            EXPECT_NE(c.response.body, kCommandTooLongReply) << c.name;
        }
    }
    EXPECT_EQ(testing::Get(port_, "/").status, 200);
}

TEST_F(AppContextTest, WithoutConfigurationThereIsNoServer) {
    AppContext context(ProgramPath());
    EXPECT_EQ(context.paths().ini, IniPath());
    EXPECT_EQ(context.paths().appLog, AppLog());
    EXPECT_EQ(context.paths().requestLog, RequestLog());
    EXPECT_EQ(context.Init(&host_).code, kStartNoConfiguration);
    EXPECT_EQ(LogTexts(AppLog()),
              (std::vector<std::string>{
                  "Init from [" + IniPath() + "]",
                  "Nu pot incarca fisierul de configurari [" + IniPath() + "]: no such file"}));
    EXPECT_FALSE(context.serverRunning());
    EXPECT_FALSE(context.RequestServerExit());
    EXPECT_TRUE(context.WaitForServerDone(0ms));
}

TEST_F(AppContextTest, LogsAPortThatCannotBeOpenedAndEndsTheServerThread) {
    EventPump otherPump;
    WebServer other(otherPump);
    std::string reason;
    const int taken = testing::ListenOnFreePort([&](int port) {
        const platform::Error error = other.Host(port);
        reason = error.text();
        return error.ok() ? testing::ListenOutcome::listening : testing::ListenOutcome::portTaken;
    });
    ASSERT_NE(taken, 0) << reason;
    WriteConfig("DebugMode=1", taken);

    (void)host_.Initialize(IniPath(), dir_.File("_Tillvane_se.log"));
    context_ = std::make_unique<AppContext>(ProgramPath());
    const ServerStart inUse = context_->Init(&host_);
    EXPECT_EQ(inUse.code, kStartPortInUse) << inUse.reason;
    EXPECT_TRUE(context_->WaitForServerDone(kStopTimeout));
    EXPECT_FALSE(context_->serverRunning());
    const std::vector<std::string> log = LogTexts(AppLog());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(
        log[1].rfind("Nu pot porni serverul web pe portul " + std::to_string(port_) + ": ", 0), 0u)
        << log[1];
    EXPECT_GT(log[1].size(), std::string("Nu pot porni serverul web pe portul : ").size() + 5);

    std::filesystem::remove(AppLog());
    testing::WriteFile(IniPath(), "tcpPort=0");
    AppContext portZero(ProgramPath());
    EXPECT_EQ(portZero.Init(&host_).code, kStartInvalidTcpPort);
    EXPECT_TRUE(portZero.WaitForServerDone(kStopTimeout));
    EXPECT_EQ(LogTexts(AppLog()).back().rfind("Nu pot porni serverul web pe portul 0: ", 0), 0u);
}

TEST_F(AppContextTest, StopEndsTheServerThreadPromptly) {
    Start();
    EXPECT_TRUE(context_->serverRunning());
    EXPECT_FALSE(context_->WaitForServerDone(0ms));
    EXPECT_TRUE(context_->RequestServerExit());
    EXPECT_TRUE(context_->WaitForServerDone(kStopTimeout));
    EXPECT_FALSE(context_->serverRunning());
    EXPECT_FALSE(HttpConnection(port_, 500ms).connected());
}

TEST_F(AppContextTest, StopRequestedBeforeThePumpExistsStillStopsTheServer) {
    WriteConfig("DebugMode=0");
    // The exit request follows Init at once, mostly before the server thread has made its
    // pump; it must be honoured either way.
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        AppContext context(ProgramPath());
        ASSERT_TRUE(context.Init(&host_));
        EXPECT_TRUE(context.RequestServerExit()) << round;
        ASSERT_TRUE(context.WaitForServerDone(kStopTimeout)) << round;
        EXPECT_FALSE(context.serverRunning());
    }
}

TEST_F(AppContextTest, DestructionStopsARunningServer) {
    Start();
    context_.reset();  // must not hang, nor leave the thread behind
    EXPECT_FALSE(HttpConnection(port_, 500ms).connected());
}

}  // namespace
}  // namespace tillvane
