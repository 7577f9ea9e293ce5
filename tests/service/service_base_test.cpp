// The wrappers around the hooks: the status reports with their check points and exit codes,
// and the event-log entries, for every way a hook can end.

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/service_base.h"
#include "service/service_error.h"
#include "tests/service/service_fakes.h"

namespace tillvane {
namespace {

using namespace platform;
using testing::ScriptedEnvironment;
using testing::ShellRecord;

enum class Hook { kNone, kStart, kStop, kPause, kContinue, kShutdown };
enum class Ending { kReturns, kRaisesCode, kRaisesOther, kRunsOutOfMemory };

constexpr std::uint32_t kRaisedCode = 1450;  // 0x5aa

class HookService final : public CServiceBase {
  public:
    HookService(ServiceEnvironment environment, Hook failing, Ending ending)
        : CServiceBase("Tillvane_SE", std::move(environment)), failing_(failing), ending_(ending) {}

    using CServiceBase::LogError;

  protected:
    void OnStart(std::uint32_t, char**) override { End(Hook::kStart); }
    void OnStop() override { End(Hook::kStop); }
    void OnPause() override { End(Hook::kPause); }
    void OnContinue() override { End(Hook::kContinue); }
    void OnShutdown() override { End(Hook::kShutdown); }

  private:
    void End(Hook hook) const {
        if (hook != failing_) return;
        if (ending_ == Ending::kRaisesCode) throw ServiceError(kRaisedCode);
        if (ending_ == Ending::kRaisesOther) throw std::runtime_error("hook failed");
        if (ending_ == Ending::kRunsOutOfMemory) throw std::bad_alloc();
    }

    Hook failing_;
    Ending ending_;
};

struct Report {
    std::uint32_t state;
    std::uint32_t checkPoint;
    std::uint32_t exitCode = 0;
};

struct WrapperCase {
    const char* name;
    Hook failing;
    Ending ending;
    std::vector<std::uint32_t> controls;
    std::vector<Report> reports;
    std::vector<std::string> errorMessages;
};

// Test listings name a case by its name, not by its bytes.
void PrintTo(const WrapperCase& c, std::ostream* out) {
    *out << c.name;
}

const WrapperCase kWrapperCases[] = {
    {"TypicalRun",
     Hook::kNone,
     Ending::kReturns,
     {kServiceControlStop},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServiceStopPending, 2},
      {kServiceStopped, 0}},
     {}},
    {"StartRaisesCode",
     Hook::kStart,
     Ending::kRaisesCode,
     {kServiceControlStop},
     {{kServiceStartPending, 1}, {kServiceStopped, 0, kRaisedCode}},
     {"Service Start failed w/err 0x000005aa"}},
    {"StartRaisesOther",
     Hook::kStart,
     Ending::kRaisesOther,
     {},
     {{kServiceStartPending, 1}, {kServiceStopped, 0, kErrorExceptionInService}},
     {"Service failed to start."}},
    {"StartRunsOutOfMemory",
     Hook::kStart,
     Ending::kRunsOutOfMemory,
     {},
     {{kServiceStartPending, 1}, {kServiceStopped, 0, kErrorExceptionInService}},
     {"Service failed to start."}},
    {"StopRaisesCodeWhileRunning",
     Hook::kStop,
     Ending::kRaisesCode,
     {kServiceControlStop},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServiceStopPending, 2},
      {kServiceRunning, 0}},
     {"Service Stop failed w/err 0x000005aa"}},
    {"StopRaisesOtherWhilePaused",
     Hook::kStop,
     Ending::kRaisesOther,
     {kServiceControlPause, kServiceControlStop},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServicePausePending, 2},
      {kServicePaused, 3},
      {kServiceStopPending, 4},
      {kServicePaused, 5}},
     {"Service failed to stop."}},
    {"PauseAndContinue",
     Hook::kNone,
     Ending::kReturns,
     {kServiceControlPause, kServiceControlContinue, kServiceControlStop},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServicePausePending, 2},
      {kServicePaused, 3},
      {kServiceContinuePending, 4},
      {kServiceRunning, 0},
      {kServiceStopPending, 5},
      {kServiceStopped, 0}},
     {}},
    {"PauseRaisesCode",
     Hook::kPause,
     Ending::kRaisesCode,
     {kServiceControlPause},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServicePausePending, 2},
      {kServiceRunning, 0}},
     {"Service Pause failed w/err 0x000005aa"}},
    {"PauseRaisesOther",
     Hook::kPause,
     Ending::kRaisesOther,
     {kServiceControlPause},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServicePausePending, 2},
      {kServiceRunning, 0}},
     {"Service failed to pause."}},
    {"ContinueRaisesCode",
     Hook::kContinue,
     Ending::kRaisesCode,
     {kServiceControlPause, kServiceControlContinue},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServicePausePending, 2},
      {kServicePaused, 3},
      {kServiceContinuePending, 4},
      {kServicePaused, 5}},
     {"Service Continue failed w/err 0x000005aa"}},
    {"ContinueRaisesOther",
     Hook::kContinue,
     Ending::kRaisesOther,
     {kServiceControlPause, kServiceControlContinue},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServicePausePending, 2},
      {kServicePaused, 3},
      {kServiceContinuePending, 4},
      {kServicePaused, 5}},
     {"Service failed to resume."}},
    {"Shutdown",
     Hook::kNone,
     Ending::kReturns,
     {kServiceControlShutdown},
     {{kServiceStartPending, 1}, {kServiceRunning, 0}, {kServiceStopped, 0}},
     {}},
    {"ShutdownRaisesCode",
     Hook::kShutdown,
     Ending::kRaisesCode,
     {kServiceControlShutdown},
     {{kServiceStartPending, 1}, {kServiceRunning, 0}},
     {"Service Shutdown failed w/err 0x000005aa"}},
    {"ShutdownRaisesOther",
     Hook::kShutdown,
     Ending::kRaisesOther,
     {kServiceControlShutdown},
     {{kServiceStartPending, 1}, {kServiceRunning, 0}},
     {"Service failed to shut down."}},
    {"InterrogateAndUnknownControlsReportNothing",
     Hook::kNone,
     Ending::kReturns,
     {kServiceControlInterrogate, 200, kServiceControlStop},
     {{kServiceStartPending, 1},
      {kServiceRunning, 0},
      {kServiceStopPending, 2},
      {kServiceStopped, 0}},
     {}},
};

class WrapperTest : public ::testing::TestWithParam<WrapperCase> {};

TEST_P(WrapperTest, ReportsAndLogsAsTheHookEnds) {
    const WrapperCase& c = GetParam();
    ShellRecord record;
    HookService service(ScriptedEnvironment(record, c.controls), c.failing, c.ending);
    ASSERT_TRUE(CServiceBase::Run(service));

    const std::vector<ServiceStatusRecord> statuses = record.Statuses();
    ASSERT_EQ(statuses.size(), c.reports.size());
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        SCOPED_TRACE("report " + std::to_string(i));
        EXPECT_EQ(statuses[i].currentState, c.reports[i].state);
        EXPECT_EQ(statuses[i].checkPoint, c.reports[i].checkPoint);
        EXPECT_EQ(statuses[i].win32ExitCode, c.reports[i].exitCode);
        EXPECT_EQ(statuses[i].serviceType, kServiceWin32OwnProcess);
        EXPECT_EQ(statuses[i].controlsAccepted, kServiceAcceptStop | kServiceAcceptShutdown);
        EXPECT_EQ(statuses[i].serviceSpecificExitCode, 0u);
        EXPECT_EQ(statuses[i].waitHint, 0u);
    }

    const std::vector<EventLogEntry> entries = record.Entries();
    ASSERT_EQ(entries.size(), c.errorMessages.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EventLogEntry expected{
            "Tillvane_SE", kEventLogErrorType, 0, 0, {"Tillvane_SE", c.errorMessages[i]}};
        EXPECT_EQ(entries[i], expected);
    }
}

INSTANTIATE_TEST_SUITE_P(ServiceBase, WrapperTest, ::testing::ValuesIn(kWrapperCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServiceBaseTest, LogErrorCutsTheTextAfter259Characters) {
    ShellRecord record;
    HookService service(ScriptedEnvironment(record, {}), Hook::kNone, Ending::kReturns);
    for (const std::size_t operationLength : {200u, 240u, 259u, 400u}) {
        const std::string operation(operationLength, 'x');
        service.LogError(operation, 42);
        const std::string full = operation + " failed w/err 0x0000002a";
        const std::string written = record.Messages().back();
        EXPECT_EQ(written, full.substr(0, kMaxErrorEntryLength)) << operationLength;
        EXPECT_EQ(written.size(), std::min(full.size(), kMaxErrorEntryLength));
    }
}

TEST(ServiceBaseTest, FailedHandlerRegistrationIsLoggedAndNothingReported) {
    ShellRecord record;
    testing::ScriptedDispatcher* dispatcher = nullptr;
    HookService service(ScriptedEnvironment(record, {kServiceControlStop}, &dispatcher),
                        Hook::kNone, Ending::kReturns);
    dispatcher->registrationFails = true;
    EXPECT_TRUE(CServiceBase::Run(service));
    EXPECT_TRUE(record.Statuses().empty());
    EXPECT_EQ(record.Messages(),
              std::vector<std::string>{"RegisterServiceCtrlHandler failed w/err 0x0000043b"});
}

TEST(ServiceBaseTest, RunFailsWhenTheDispatcherCannotStart) {
    ShellRecord record;
    testing::ScriptedDispatcher* dispatcher = nullptr;
    HookService service(ScriptedEnvironment(record, {}, &dispatcher), Hook::kNone,
                        Ending::kReturns);
    dispatcher->runFails = true;
    EXPECT_FALSE(CServiceBase::Run(service));
    EXPECT_TRUE(record.Statuses().empty());
    EXPECT_EQ(service.status().currentState, kServiceStartPending);
}

}  // namespace
}  // namespace tillvane
