// The HTTP layer over a real socket: parameters, keep-alive, limits and bad input.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "http/event_pump.h"
#include "http/web_request.h"
#include "http/web_server.h"
#include "tests/support/free_port.h"
#include "tests/support/http_client.h"
#include "tests/support/wait.h"

namespace tillvane {
namespace {

using testing::HttpConnection;
using testing::HttpResponse;
using testing::WaitUntil;
using namespace std::chrono_literals;

constexpr auto kStartTimeout = 5000ms;

// Echoes what the handler saw, so a test can tell how the request was decoded.
void EchoHandler(const char* method, WebRequest& request, bool isPost) {
    if (request.path() == "throw") throw std::runtime_error("handler failure");
    request.Write(std::string(method) + " path=[" + request.path() + "] CMD=[" +
                  (isPost ? request.POST("CMD") : request.GET("CMD")) + "] X=[" +
                  (isPost ? request.POST("X") : request.GET("X")) + "]");
}

class WebServerTest : public ::testing::Test {
  protected:
    void Start(const WebServerLimits& limits = {}) {
        server_ = std::make_unique<WebServer>(pump_, limits);
        server_->OnPost([](WebServer&, WebRequest& r) { EchoHandler("POST", r, true); });
        server_->OnGet([this](WebServer&, WebRequest& r) {
            if (r.path() != "defer" && r.path() != "defer-twice") {
                return EchoHandler("GET", r, false);
            }
            std::lock_guard lock(deferredMutex_);
            deferred_.push_back(r.Defer());
            if (r.path() == "defer-twice") deferred_.push_back(r.Defer());
        });
        std::string reason;
        port_ = testing::ListenOnFreePort([&](int port) {
            const platform::Error error = server_->Host(port);
            reason = error.text();
            return error.ok() ? testing::ListenOutcome::listening
                              : testing::ListenOutcome::portTaken;
        });
        ASSERT_NE(port_, 0) << reason;
        loop_ = std::thread([this] { pump_.Run(); });
    }

    void TearDown() override {
        pump_.PostExit();
        if (loop_.joinable()) loop_.join();
        server_.reset();  // before the pump, after its loop
    }

    // The deferred replies so far, once there are `count` of them.
    std::vector<std::shared_ptr<PendingReply>> Deferred(std::size_t count) {
        EXPECT_TRUE(WaitUntil(
            [&] {
                std::lock_guard lock(deferredMutex_);
                return deferred_.size() >= count;
            },
            kStartTimeout));
        std::lock_guard lock(deferredMutex_);
        return deferred_;
    }

    std::mutex deferredMutex_;
    std::vector<std::shared_ptr<PendingReply>> deferred_;
    EventPump pump_;
    std::unique_ptr<WebServer> server_;
    std::thread loop_;
    int port_ = 0;
};

TEST_F(WebServerTest, DecodesPathQueryAndForms) {
    Start();
    struct Case {
        const char* name;
        std::string request;
        int status;
        std::string body;
    };
    const std::string multipart =
        "preamble\r\n--XyZ\r\nContent-Disposition: form-data; name=\"CMD\"\r\n\r\nBS|SI^a+b%41\r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"X\"; filename=\"f.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\nline1\r\nline2\r\n--XyZ--\r\n";
    const Case cases[] = {
        {"query", "GET /REGCMD?CMD=BS%7CES+x&X= HTTP/1.1\r\n\r\n", 200,
         "GET path=[REGCMD] CMD=[BS|ES x] X=[]"},
        {"first of repeated names wins", "GET /a?CMD=1&CMD=2&X HTTP/1.1\r\n\r\n", 200,
         "GET path=[a] CMD=[1] X=[]"},
        {"root", "GET / HTTP/1.1\r\n\r\n", 200, "GET path=[] CMD=[] X=[]"},
        {"encoded path", "GET /a%20b/c+d HTTP/1.1\r\n\r\n", 200, "GET path=[a b/c+d] CMD=[] X=[]"},
        {"absolute form", "GET http://h:1/REGCMD?CMD=Z HTTP/1.1\r\n\r\n", 200,
         "GET path=[REGCMD] CMD=[Z] X=[]"},
        {"urlencoded form",
         "POST /REGCMD HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded; "
         "charset=UTF-8\r\nContent-Length: 20\r\n\r\nCMD=%C3%A9+%7C&X=%00",
         200, std::string("POST path=[REGCMD] CMD=[\xC3\xA9 |] X=[") + '\0' + "]"},
        {"form fields are not query parameters",
         "POST /p?CMD=q HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: 5\r\n\r\nCMD=f",
         200, "POST path=[p] CMD=[f] X=[]"},
        {"multipart form",
         "POST /m HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"XyZ\"\r\n"
         "Content-Length: " +
             std::to_string(multipart.size()) + "\r\n\r\n" + multipart,
         200, "POST path=[m] CMD=[BS|SI^a+b%41] X=[line1\r\nline2]"},
        {"other body types carry no fields",
         "POST /p HTTP/1.1\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nCMD=f", 200,
         "POST path=[p] CMD=[] X=[]"},
        {"chunked body",
         "POST /p HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Transfer-Encoding: chunked\r\n\r\n3\r\nCMD\r\n2\r\n=c\r\n0\r\n\r\n",
         200, "POST path=[p] CMD=[c] X=[]"},
        {"invalid escape in path", "GET /a%4 HTTP/1.1\r\n\r\n", 400, "invalid percent-encoding"},
        {"invalid escape in query", "GET /a?CMD=%G1 HTTP/1.1\r\n\r\n", 400,
         "invalid percent-encoding"},
        {"invalid escape in form",
         "POST /p HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: 5\r\n\r\nCMD=%",
         400, "invalid percent-encoding"},
        {"multipart without its end",
         "POST /m HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
         "Content-Length: 9\r\n\r\n--XyZ\r\nab",
         400, "malformed multipart form"},
        {"other method", "PUT /p HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 405, "method not allowed"},
        {"OPTIONS without its handler", "OPTIONS /p HTTP/1.1\r\n\r\n", 405, "method not allowed"},
        {"path too long",
         "GET /" + std::string(kDefaultMaxPathLength + 1, 'p') + " HTTP/1.1\r\n\r\n", 414,
         "request path too long"},
        {"longest path", "GET /" + std::string(kDefaultMaxPathLength, 'p') + " HTTP/1.1\r\n\r\n",
         200, "GET path=[" + std::string(kDefaultMaxPathLength, 'p') + "] CMD=[] X=[]"},
        {"header too large",
         "GET / HTTP/1.1\r\nX-Big: " + std::string(kDefaultMaxHeaderBytes, 'h') + "\r\n\r\n", 431,
         "request header too large"},
        {"body too large",
         "POST /p HTTP/1.1\r\nContent-Length: " + std::to_string(kDefaultMaxBodyBytes + 1) +
             "\r\n\r\n",
         413, "request body too large"},
        {"not HTTP", "HELLO THERE\r\n\r\n", 400, "malformed HTTP request"},
        {"bad header line", "GET / HTTP/1.1\r\nNo colon here\r\n\r\n", 400,
         "malformed HTTP request"},
        {"bad content length", "POST / HTTP/1.1\r\nContent-Length: x\r\n\r\n", 400,
         "malformed HTTP request"},
        {"request target not a path", "GET * HTTP/1.1\r\n\r\n", 400, "malformed request target"},
        {"handler throws", "GET /throw HTTP/1.1\r\n\r\n", 500, "internal error"},
    };
    for (const Case& c : cases) {
        const HttpResponse response = testing::SendRaw(port_, c.request);
        EXPECT_EQ(response.status, c.status) << c.name << " " << response.error;
        EXPECT_EQ(response.body, c.body) << c.name;
        EXPECT_EQ(response.Header("Content-Type"), "text/plain; charset=ISO-8859-1") << c.name;
    }
}

TEST_F(WebServerTest, KeepsConnectionsAliveAndAnswersPipelinedRequests) {
    Start();
    HttpConnection connection(port_);
    ASSERT_TRUE(connection.connected());
    EXPECT_EQ(connection.Get("/one?CMD=1").body, "GET path=[one] CMD=[1] X=[]");
    EXPECT_EQ(connection.PostForm("/two", "CMD=2").body, "POST path=[two] CMD=[2] X=[]");
    // Two requests in one write: both are answered, in order.
    ASSERT_TRUE(connection.Send("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(connection.ReadResponse().body, "GET path=[a] CMD=[] X=[]");
    EXPECT_EQ(connection.ReadResponse().body, "GET path=[b] CMD=[] X=[]");
    // An invalid escape spoils one request, not the connection.
    EXPECT_EQ(connection.Get("/%zz").status, 400);
    EXPECT_EQ(connection.Get("/three").status, 200);
    // HTTP/1.0 without keep-alive closes after the answer.
    ASSERT_TRUE(connection.Send("GET /last HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(connection.ReadResponse().status, 200);
    EXPECT_TRUE(connection.WaitForClose());
}

TEST_F(WebServerTest, AsksForTheBodyWhenTheClientExpectsToContinue) {
    Start();
    HttpConnection connection(port_);
    ASSERT_TRUE(
        connection.Send("POST /p HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                        "Content-Length: 5\r\nExpect: 100-continue\r\n\r\n"));
    EXPECT_EQ(connection.ReadResponse().status, 100);
    ASSERT_TRUE(connection.Send("CMD=c"));
    EXPECT_EQ(connection.ReadResponse().body, "POST path=[p] CMD=[c] X=[]");
}

TEST_F(WebServerTest, RefusesAnOversizedBodyThatIsSentAnyway) {
    Start();
    const std::string body(2 * kDefaultMaxBodyBytes, 'b');
    const HttpResponse response = testing::PostForm(port_, "/p", body);
    EXPECT_EQ(response.status, 413) << response.error;
}

TEST_F(WebServerTest, SilentAndBrokenClientsDoNotBlockOthers) {
    WebServerLimits limits;
    limits.requestTimeout = 300ms;
    Start(limits);
    HttpConnection silent(port_);
    HttpConnection halfHeader(port_);
    ASSERT_TRUE(halfHeader.Send("POST /p HTTP/1.1\r\nContent-Len"));
    HttpConnection awaiting(port_);
    ASSERT_TRUE(awaiting.Send("GET /defer HTTP/1.1\r\n\r\n"));
    const auto replies = Deferred(1);
    {
        HttpConnection halfBody(port_);
        ASSERT_TRUE(halfBody.Send("POST /p HTTP/1.1\r\nContent-Length: 100\r\n\r\nCMD="));
        // halfBody goes away here, in the middle of its request
    }
    EXPECT_EQ(testing::Get(port_, "/other").status, 200);
    // Clients that send nothing, or stop half-way, are dropped after the idle time-out.
    EXPECT_TRUE(silent.WaitForClose());
    EXPECT_TRUE(halfHeader.WaitForClose());
    // A deferred answer has no time-out; once it is out, the idle time-out holds again.
    replies[0]->Send(200, "late");
    EXPECT_EQ(awaiting.ReadResponse().body, "late");
    EXPECT_TRUE(awaiting.WaitForClose());
    EXPECT_EQ(testing::Get(port_, "/again").status, 200);
}

TEST_F(WebServerTest, AnIdleConnectionGivesWayButABusyOneDoesNot) {
    WebServerLimits limits;
    limits.maxConnections = 2;
    limits.maxConnectionsPerAddress = 1;
    Start(limits);
    HttpConnection idle(port_);
    ASSERT_EQ(idle.Get("/a").status, 200);
    // One connection per address: the idle one is closed to admit the new one.
    HttpConnection busy(port_);
    ASSERT_TRUE(busy.Send("GET /defer HTTP/1.1\r\n\r\n"));
    EXPECT_TRUE(idle.WaitForClose());
    const auto replies = Deferred(1);
    // A connection that waits for its answer keeps its place: the newcomer is turned away.
    HttpConnection refused(port_, 2000ms);
    EXPECT_TRUE(refused.WaitForClose());
    // The answer comes from another thread and reaches the waiting client.
    std::thread([&] { replies[0]->Send(202, "later"); }).join();
    const HttpResponse answer = busy.ReadResponse();
    EXPECT_EQ(answer.status, 202);
    EXPECT_EQ(answer.body, "later");
}

TEST_F(WebServerTest, NoticesAClientThatLeavesBeforeItsDeferredAnswer) {
    Start();
    {
        HttpConnection leaving(port_);
        ASSERT_TRUE(leaving.Send("GET /defer HTTP/1.1\r\n\r\n"));
        Deferred(1);
    }
    const auto replies = Deferred(1);
    EXPECT_TRUE(WaitUntil([&] { return replies[0]->clientGone(); }, kStartTimeout));
    replies[0]->Send(200, "nobody listens");  // dropped without harm
    EXPECT_EQ(testing::Get(port_, "/after").status, 200);
}

TEST_F(WebServerTest, ALateReplyToAnEarlierRequestDoesNotAnswerTheNext) {
    Start();
    HttpConnection client(port_);
    ASSERT_TRUE(client.Send("GET /defer-twice HTTP/1.1\r\n\r\n"));
    const auto first = Deferred(2);
    first[0]->Send(200, "first");
    EXPECT_EQ(client.ReadResponse().body, "first");
    ASSERT_TRUE(client.Send("GET /defer HTTP/1.1\r\n\r\n"));
    const auto next = Deferred(3);
    first[1]->Send(500, "late");  // the same request's second reply: dropped
    next[2]->Send(200, "next");
    EXPECT_EQ(client.ReadResponse().body, "next");
}

TEST_F(WebServerTest, BoundsTheMemoryOfUnfinishedRequests) {
    WebServerLimits limits;
    limits.maxPendingRequestBytes = 256 * 1024;
    limits.maxConnectionsPerAddress = limits.maxConnections;
    Start(limits);
    // Each announces a 100 KB body and sends part of it: the oldest give way to the newest.
    std::vector<std::unique_ptr<HttpConnection>> hogs;
    for (int i = 0; i < 6; ++i) {
        hogs.push_back(std::make_unique<HttpConnection>(port_));
        ASSERT_TRUE(hogs.back()->Send("POST /p HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" +
                                      std::string(20000, 'x')));
    }
    EXPECT_TRUE(hogs.front()->WaitForClose());
    EXPECT_EQ(testing::Get(port_, "/after").status, 200);
}

TEST_F(WebServerTest, ShutdownAnswersWhatIsOwedAndClosesTheRest) {
    Start();
    HttpConnection idle(port_);
    ASSERT_EQ(idle.Get("/a").status, 200);
    HttpConnection waiting(port_);
    ASSERT_TRUE(waiting.Send("GET /defer HTTP/1.1\r\n\r\n"));
    const auto replies = Deferred(1);
    std::atomic<bool> quiet{false};
    pump_.Post([&] { server_->BeginShutdown(kStartTimeout, [&] { quiet = true; }); });
    EXPECT_TRUE(idle.WaitForClose());
    EXPECT_FALSE(quiet);
    replies[0]->Send(200, "last");
    const HttpResponse answer = waiting.ReadResponse();
    EXPECT_EQ(answer.body, "last");
    EXPECT_EQ(answer.Header("Connection"), "close");
    EXPECT_TRUE(WaitUntil([&] { return quiet.load(); }, kStartTimeout));
}

TEST(WebServerHostTest, ReportsAPortThatCannotBeOpened) {
    EventPump pump;
    WebServer first(pump);
    std::string reason;
    const int port = testing::ListenOnFreePort([&](int candidate) {
        const platform::Error error = first.Host(candidate);
        reason = error.text();
        return error.ok() ? testing::ListenOutcome::listening : testing::ListenOutcome::portTaken;
    });
    ASSERT_NE(port, 0) << reason;
    EXPECT_EQ(first.port(), port);

    WebServer second(pump);
    for (const int badPort : {port, 0, -1, 65536}) {
        const platform::Error error = second.Host(badPort);
        EXPECT_FALSE(error.ok()) << badPort;
        EXPECT_FALSE(error.text().empty()) << badPort;
        EXPECT_EQ(second.port(), 0);
    }
    // The port in use is told apart, in the system's words rather than as an unknown error.
    const platform::Error inUse = second.Host(port);
    EXPECT_TRUE(inUse.nameTaken()) << inUse.text();
    EXPECT_EQ(inUse.text().find("Unknown error"), std::string::npos) << inUse.text();
    EXPECT_NE(inUse.code(), 0);
    // An address that is none of this machine's (TEST-NET-1).
    const platform::Error foreign = second.Host("192.0.2.1", port);
    EXPECT_TRUE(foreign.nameMissing()) << foreign.text();
}

TEST(EventPumpTest, ExitPostedBeforeRunEndsRunAtOnce) {
    EventPump pump;
    pump.PostExit();
    std::promise<void> ended;
    std::future<void> runEnded = ended.get_future();
    std::thread loop([&] {
        pump.Run();
        ended.set_value();
    });
    const bool endedAtOnce = runEnded.wait_for(kStartTimeout) == std::future_status::ready;
    // A lost exit would keep the loop running: a second one ends it, so the test fails
    // instead of hanging.
    if (!endedAtOnce) pump.PostExit();
    loop.join();
    EXPECT_TRUE(endedAtOnce) << "Run did not return although PostExit came first";
}

}  // namespace
}  // namespace tillvane
