// The Linux dispatcher: controls wait for the start to finish, Run returns once the service
// reported itself stopped, and the reports are recorded and turned into systemd notices.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/in_process_dispatcher.h"
#include "platform/posix/systemd_notify.h"
#include "platform/posix/unique_fd.h"
#include "service/manual_reset_event.h"
#include "service/service_base.h"
#include "service/service_error.h"
#include "tests/service/service_fakes.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using namespace platform;
using testing::RecordingEventLog;
using testing::ShellRecord;

class GatedService final : public CServiceBase {
  public:
    GatedService(std::unique_ptr<InProcessDispatcher> dispatcher, ShellRecord& record)
        : CServiceBase("Tillvane_SE",
                       {std::move(dispatcher), std::make_unique<RecordingEventLog>(record)}) {}

    ManualResetEvent startGate;
    bool startFails = false;
    int stops = 0;

  protected:
    void OnStart(std::uint32_t, char**) override {
        startGate.Wait();
        if (startFails) throw ServiceError(5);
    }
    void OnStop() override { ++stops; }
};

std::vector<std::pair<std::uint32_t, std::uint32_t>> StatesAndCheckPoints(
    const std::vector<ServiceStatusRecord>& history) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> result;
    for (const ServiceStatusRecord& status : history) {
        result.emplace_back(status.currentState, status.checkPoint);
    }
    return result;
}

TEST(InProcessDispatcherTest, StopPostedDuringTheStartRunsAfterIt) {
    ShellRecord record;
    auto owned = std::make_unique<InProcessDispatcher>();
    InProcessDispatcher* dispatcher = owned.get();
    GatedService service(std::move(owned), record);
    bool ran = false;
    std::thread runner([&] { ran = CServiceBase::Run(service); });
    dispatcher->PostControl(kServiceControlStop);
    dispatcher->PostControl(kServiceControlStop);  // a second Ctrl-C: stopped already, dropped
    service.startGate.Set();
    runner.join();

    EXPECT_TRUE(ran);
    EXPECT_EQ(service.stops, 1);
    using Pair = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_EQ(StatesAndCheckPoints(dispatcher->statusHistory()),
              (std::vector<Pair>{{kServiceStartPending, 1},
                                 {kServiceRunning, 0},
                                 {kServiceStopPending, 2},
                                 {kServiceStopped, 0}}));
}

TEST(InProcessDispatcherTest, FailedStartEndsTheRunWithoutAControl) {
    ShellRecord record;
    auto owned = std::make_unique<InProcessDispatcher>();
    InProcessDispatcher* dispatcher = owned.get();
    GatedService service(std::move(owned), record);
    service.startFails = true;
    service.startGate.Set();
    EXPECT_TRUE(CServiceBase::Run(service));
    EXPECT_EQ(service.stops, 0);
    const std::vector<ServiceStatusRecord> history = dispatcher->statusHistory();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history.back().currentState, kServiceStopped);
    EXPECT_EQ(history.back().win32ExitCode, 5u);
}

InProcessDispatcher* registeringDispatcher = nullptr;
std::uint32_t registrationError = 0;

void MainRegisteringAnotherName(std::uint32_t, char**) {
    if (registeringDispatcher->RegisterControlHandler(
            "Other", [](std::uint32_t) {}, registrationError) == nullptr) {
        return;
    }
}

TEST(InProcessDispatcherTest, RunEndsWhenNoControlHandlerWasRegistered) {
    InProcessDispatcher dispatcher;
    registeringDispatcher = &dispatcher;
    EXPECT_TRUE(dispatcher.Run("Tillvane_SE", &MainRegisteringAnotherName));
    EXPECT_EQ(registrationError, kErrorServiceNotInExe);
    EXPECT_TRUE(dispatcher.statusHistory().empty());
}

TEST(SystemdNotifyTest, ReadyWhenRunningStoppingWhenStopPending) {
    struct Case {
        std::uint32_t state;
        std::uint32_t exitCode;
        const char* text;
        std::uint32_t specificCode = 0;
    };
    const Case cases[] = {
        {kServiceStartPending, 0, "STATUS=Starting"},
        {kServiceRunning, 0, "READY=1\nSTATUS=Running"},
        {kServiceStopPending, 0, "STOPPING=1\nSTATUS=Stopping"},
        {kServiceStopped, 0, "STATUS=Stopped"},
        {kServiceStopped, 1450, "STATUS=Stopped w/err 0x000005aa"},
        {kServicePaused, 0, "STATUS=Paused"},
        {kServiceStopped, 1066, "STATUS=Stopped w/err 0x0000042a, code 4", 4},
    };
    for (const Case& c : cases) {
        ServiceStatusRecord status;
        status.currentState = c.state;
        status.win32ExitCode = c.exitCode;
        status.serviceSpecificExitCode = c.specificCode;
        EXPECT_EQ(SystemdNotifyText(status), c.text);
    }
}

// systemd names its socket by path (/run/systemd/notify); the end-to-end test covers "@" names.
TEST(SystemdNotifyTest, SendsOneDatagramToASocketNamedByPath) {
    testing::TempDir dir;
    const std::string path = dir.File("notify");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const UniqueFd listener(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    // Names no socket can have are passed over; the path gets the notice.
    for (const std::string& name :
         std::vector<std::string>{"", "relative/notify", "/" + std::string(200, 'x'), path}) {
        setenv("NOTIFY_SOCKET", name.c_str(), 1);
        NotifySystemd("READY=1\nSTATUS=Running");
    }
    unsetenv("NOTIFY_SOCKET");
    char buffer[256];
    const ssize_t got = recv(listener.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0))),
              "READY=1\nSTATUS=Running");
}

}  // namespace
}  // namespace tillvane
