// The service and its worker: the order of start-up and shutdown, the bound on the wait for
// the server thread, and what happens when the worker fails or is never told to stop.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/program_path.h"
#include "service/manual_reset_event.h"
#include "service/sample_service.h"
#include "service/service_error.h"
#include "service/worker_paths.h"
#include "tests/service/service_fakes.h"

namespace tillvane {
namespace {

using namespace platform;
using namespace std::chrono_literals;
using testing::ScriptedEnvironment;
using testing::ShellRecord;

// How the fake front end behaves, and what it was asked to do.
struct FrontEndScript {
    bool serverRunning = true;
    bool serverEnds = true;  // WaitForServerDone: at once, or only after its time-out
    bool startThrows = false;
    ServerStart startOutcome;
    ShellRecord* statusesOf = nullptr;  // Start notes the states reported so far
    std::vector<std::uint32_t> statesAtStart;

    std::mutex mutex;
    std::vector<std::string> calls;

    void Call(const std::string& call) {
        std::lock_guard lock(mutex);
        calls.push_back(call);
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

class FakeFrontEnd final : public FrontEnd {
  public:
    explicit FakeFrontEnd(std::shared_ptr<FrontEndScript> script) : script_(std::move(script)) {}
    ~FakeFrontEnd() override { script_->Call("destroyed"); }

    ServerStart Start(const std::string& configPath, const std::string& registerLogPath) override {
        script_->Call("Start " + configPath + " " + registerLogPath);
        if (script_->statusesOf != nullptr) {
            for (const auto& status : script_->statusesOf->Statuses()) {
                script_->statesAtStart.push_back(status.currentState);
            }
        }
        if (script_->startThrows) throw std::runtime_error("no memory left");
        return script_->startOutcome;
    }
    void RequestServerExit() override { script_->Call("RequestServerExit"); }
    bool ServerRunning() const override { return script_->serverRunning; }
    bool WaitForServerDone(std::chrono::milliseconds timeout) override {
        script_->Call("WaitForServerDone " + std::to_string(timeout.count()));
        if (script_->serverEnds) return true;
        ManualResetEvent never;
        return never.WaitFor(timeout);
    }
    void ReleaseDriver() override { script_->Call("ReleaseDriver"); }

  private:
    std::shared_ptr<FrontEndScript> script_;
};

FrontEndFactory FactoryFor(const std::shared_ptr<FrontEndScript>& script) {
    return [script] { return std::make_unique<FakeFrontEnd>(script); };
}

std::string ExpectedStartCall() {
    const WorkerPaths paths = WorkerPathsFor(ProgramPath());
    return "Start " + paths.configPath + " " + paths.registerLogPath;
}

const std::vector<std::uint32_t> kTypicalReports = {kServiceStartPending, kServiceRunning,
                                                    kServiceStopPending, kServiceStopped};

std::vector<std::uint32_t> States(ShellRecord& record) {
    std::vector<std::uint32_t> states;
    for (const ServiceStatusRecord& status : record.Statuses())
        states.push_back(status.currentState);
    return states;
}

struct StopCase {
    const char* name;
    bool serverRunning;
    bool serverEnds;
    std::vector<std::string> callsAfterStart;
};

TEST(SampleServiceTest, StopShutsTheFrontEndDownInOrder) {
    const StopCase cases[] = {
        {"server ends",
         true,
         true,
         {"RequestServerExit", "WaitForServerDone 10000", "ReleaseDriver", "destroyed"}},
        {"no server thread", false, true, {"RequestServerExit", "ReleaseDriver", "destroyed"}},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        ShellRecord record;
        auto script = std::make_shared<FrontEndScript>();
        script->serverRunning = c.serverRunning;
        script->serverEnds = c.serverEnds;
        {
            CSampleService service("Tillvane_SE",
                                   ScriptedEnvironment(record, {kServiceControlStop}),
                                   FactoryFor(script));
            ASSERT_TRUE(CServiceBase::Run(service));
            EXPECT_FALSE(service.frontEndAbandoned());
        }
        std::vector<std::string> expected = {ExpectedStartCall()};
        expected.insert(expected.end(), c.callsAfterStart.begin(), c.callsAfterStart.end());
        EXPECT_EQ(script->Calls(), expected);
        EXPECT_EQ(States(record), kTypicalReports);
        // The stop tells the service manager how long it may take: the server's bound and more.
        for (const ServiceStatusRecord& status : record.Statuses()) {
            EXPECT_EQ(status.waitHint, status.currentState == kServiceStopPending
                                           ? (kServerStopTimeout + kStopWaitMargin).count()
                                           : 0);
        }
        const std::vector<EventLogEntry> entries = record.Entries();
        ASSERT_EQ(entries.size(), 2u);
        for (const EventLogEntry& entry : entries) {
            EXPECT_EQ(entry.type, kEventLogInformationType);
            EXPECT_EQ(entry.strings.front(), "Tillvane_SE");
        }
        EXPECT_EQ(record.Messages(),
                  (std::vector<std::string>{"Tillvane_SE in OnStart", "Tillvane_SE in OnStop"}));
    }
}

TEST(SampleServiceTest, ServerThreadThatOutlivesTheBoundKeepsItsObjects) {
    std::unique_ptr<FrontEnd> kept;
    ShellRecord record;
    auto script = std::make_shared<FrontEndScript>();
    script->serverEnds = false;
    {
        CSampleService service("Tillvane_SE", ScriptedEnvironment(record, {kServiceControlStop}),
                               FactoryFor(script), 20ms);
        ASSERT_TRUE(CServiceBase::Run(service));
        EXPECT_TRUE(service.frontEndAbandoned());
        kept = service.TakeAbandonedFrontEnd();
        EXPECT_NE(kept, nullptr);
    }
    // The stop completed, but neither the driver nor the front end was destroyed: the service
    // handed the front end to its owner (the program ends without destroying it).
    EXPECT_EQ(script->Calls(), (std::vector<std::string>{ExpectedStartCall(), "RequestServerExit",
                                                         "WaitForServerDone 20"}));
    EXPECT_EQ(States(record), kTypicalReports);
}

TEST(SampleServiceTest, StartThatCannotServeStopsWithTheCausesCode) {
    const std::pair<std::uint32_t, const char*> causes[] = {
        {kStartNoConfiguration, "Nu pot incarca fisierul de configurari [x]: no such file"},
        {kStartPortInUse, "Nu pot porni serverul web pe portul 8088: address already in use"},
        {kStartUnusableAddress, "listenAddress is not an IP address [till]"},
    };
    for (const auto& [code, reason] : causes) {
        SCOPED_TRACE(reason);
        ShellRecord record;
        auto script = std::make_shared<FrontEndScript>();
        script->serverRunning = false;
        script->startOutcome = ServerStart{code, reason};
        {
            CSampleService service("Tillvane_SE",
                                   ScriptedEnvironment(record, {kServiceControlStop}),
                                   FactoryFor(script));
            ASSERT_TRUE(CServiceBase::Run(service));
        }
        // Shut down before the start is reported failed; never running, no stop needed.
        EXPECT_EQ(script->Calls(),
                  (std::vector<std::string>{ExpectedStartCall(), "RequestServerExit",
                                            "ReleaseDriver", "destroyed"}));
        const std::vector<ServiceStatusRecord> statuses = record.Statuses();
        ASSERT_EQ(statuses.size(), 2u);
        EXPECT_EQ(statuses[0].currentState, kServiceStartPending);
        EXPECT_EQ(statuses[1].currentState, kServiceStopped);
        EXPECT_EQ(statuses[1].win32ExitCode, kErrorServiceSpecificError);
        EXPECT_EQ(statuses[1].serviceSpecificExitCode, code);
        // The reason, in the administrator's words, is an error entry of the event log.
        const EventLogEntry failure{
            "Tillvane_SE", kEventLogErrorType, 0, 0, {"Tillvane_SE", reason}};
        const std::vector<EventLogEntry> entries = record.Entries();
        EXPECT_EQ(std::count(entries.begin(), entries.end(), failure), 1);
    }
}

TEST(SampleServiceTest, RunningIsReportedOnlyOnceTheServerListens) {
    ShellRecord record;
    auto script = std::make_shared<FrontEndScript>();
    script->statusesOf = &record;
    {
        CSampleService service("Tillvane_SE", ScriptedEnvironment(record, {kServiceControlStop}),
                               FactoryFor(script));
        ASSERT_TRUE(CServiceBase::Run(service));
    }
    EXPECT_EQ(script->Calls(),
              (std::vector<std::string>{ExpectedStartCall(), "RequestServerExit",
                                        "WaitForServerDone 10000", "ReleaseDriver", "destroyed"}));
    EXPECT_EQ(States(record), kTypicalReports);
    // A stop cannot overtake the start: the service manager sees "running" only after it.
    EXPECT_EQ(script->statesAtStart, std::vector<std::uint32_t>{kServiceStartPending});
}

TEST(SampleServiceTest, WorkerFailureIsLoggedAndFailsTheStart) {
    ShellRecord record;
    auto script = std::make_shared<FrontEndScript>();
    script->startThrows = true;
    {
        CSampleService service("Tillvane_SE", ScriptedEnvironment(record, {kServiceControlStop}),
                               FactoryFor(script));
        ASSERT_TRUE(CServiceBase::Run(service));
    }
    EXPECT_EQ(script->Calls(),
              (std::vector<std::string>{ExpectedStartCall(), "RequestServerExit",
                                        "WaitForServerDone 10000", "ReleaseDriver", "destroyed"}));
    EXPECT_EQ(States(record), (std::vector<std::uint32_t>{kServiceStartPending, kServiceStopped}));
    EXPECT_EQ(record.Statuses().back().serviceSpecificExitCode, kStartServerFailed);
    const std::vector<EventLogEntry> entries = record.Entries();
    const EventLogEntry failure{"Tillvane_SE",
                                kEventLogErrorType,
                                0,
                                0,
                                {"Tillvane_SE", "Tillvane_SE WorkerLoop failed: no memory left"}};
    EXPECT_EQ(std::count(entries.begin(), entries.end(), failure), 1);
    EXPECT_EQ(entries.size(), 3u);
}

TEST(SampleServiceTest, WorkerLeftRunningByShutdownIsStoppedWhenTheServiceGoes) {
    ShellRecord record;
    auto script = std::make_shared<FrontEndScript>();
    {
        CSampleService service("Tillvane_SE",
                               ScriptedEnvironment(record, {kServiceControlShutdown}),
                               FactoryFor(script));
        ASSERT_TRUE(CServiceBase::Run(service));
        EXPECT_EQ(States(record), (std::vector<std::uint32_t>{kServiceStartPending, kServiceRunning,
                                                              kServiceStopped}));
    }
    EXPECT_EQ(script->Calls(),
              (std::vector<std::string>{ExpectedStartCall(), "RequestServerExit",
                                        "WaitForServerDone 10000", "ReleaseDriver", "destroyed"}));
}

TEST(WorkerPathsTest, FilesSitBesideTheProgramWhateverItIsCalled) {
    struct Case {
        const char* program;
        const char* directory;
        const char* config;
        const char* registerLog;
    };
    const Case cases[] = {
#ifdef _WIN32
        {"D:\\Pos\\Svc\\prog.exe", "D:\\Pos\\Svc", "D:\\POS\\SVC\\PROG.INI",
         "D:\\Pos\\Svc\\_Tillvane_se.log"},
        {"C:\\Pos Svc\\TILLVANE_SE.EXE", "C:\\Pos Svc", "C:\\POS SVC\\TILLVANE_SE.INI",
         "C:\\Pos Svc\\_Tillvane_se.log"},
        {"C:\\prog.exe", "C:\\", "C:\\PROG.INI", "C:\\_Tillvane_se.log"},
#else
        {"/opt/pos svc/prog", "/opt/pos svc", "/opt/pos svc/prog.ini",
         "/opt/pos svc/_Tillvane_se.log"},
        {"/srv/Tillvane_se", "/srv", "/srv/Tillvane_se.ini", "/srv/_Tillvane_se.log"},
        {"/prog", "/", "/prog.ini", "/_Tillvane_se.log"},
        {"prog", "prog", "prog.ini", "prog/_Tillvane_se.log"},
#endif
    };
    for (const Case& c : cases) {
        const WorkerPaths paths = WorkerPathsFor(c.program);
        EXPECT_EQ(paths.directory, c.directory) << c.program;
        EXPECT_EQ(paths.configPath, c.config) << c.program;
        EXPECT_EQ(paths.registerLogPath, c.registerLog) << c.program;
    }
}

}  // namespace
}  // namespace tillvane
