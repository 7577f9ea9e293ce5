// Installation and removal as the console shows them, over a scripted service manager: the
// same on every system (under Wine the manager waits for a stop, so no dot is ever seen there).

#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>

#include "platform/service_control.h"
#include "service/service_installation.h"

namespace tillvane {
namespace {

using namespace platform;

// A service manager whose answers come from a script: the result of each step, and the states
// that the stop request and each later query report.
class ScriptedInstaller final : public ServiceInstaller {
  public:
    std::uint32_t connectError = kNoError;
    std::uint32_t createError = kNoError;
    std::uint32_t openError = kNoError;
    bool stopTaken = true;
    std::deque<std::uint32_t> states;  // after the stop request, then one per query
    std::uint32_t deleteError = kNoError;
    ServiceDefinition created;

    bool Connect(bool) override { return Step(connectError); }
    bool CreateService(const ServiceDefinition& service) override {
        created = service;
        return Step(createError);
    }
    bool OpenService(const std::string&) override { return Step(openError); }
    bool RequestStop(std::uint32_t& state) override {
        if (!stopTaken) return Step(kErrorServiceNotActive);
        return NextState(state);
    }
    bool QueryState(std::uint32_t& state) override { return NextState(state); }
    bool DeleteService() override { return Step(deleteError); }
    std::uint32_t lastError() const override { return lastError_; }

  private:
    static constexpr std::uint32_t kErrorServiceNotActive = 1062;
    bool Step(std::uint32_t error) {
        lastError_ = error;
        return error == kNoError;
    }
    bool NextState(std::uint32_t& state) {
        if (states.empty()) return Step(kErrorServiceNotActive);
        state = states.front();
        if (states.size() > 1) states.pop_front();
        return true;
    }
    std::uint32_t lastError_ = kNoError;
};

TEST(ServiceInstallationTest, InstallPrintsTheOutcome) {
    struct Case {
        const char* name;
        std::string programPath;
        std::uint32_t connectError, createError;
        const char* output;
    };
    const Case cases[] = {
        {"installed", "C:\\Pos Svc\\Tillvane_se.exe", 0, 0, "Tillvane_SE is installed.\n"},
        {"no program path", "", 0, 0, "GetModuleFileName failed w/err 0x0000007a\n"},
        {"no manager", "C:\\p.exe", 5, 0, "OpenSCManager failed w/err 0x00000005\n"},
        {"exists", "C:\\p.exe", 0, kErrorServiceExists, "CreateService failed w/err 0x00000431\n"},
    };
    for (const Case& c : cases) {
        ScriptedInstaller installer;
        installer.connectError = c.connectError;
        installer.createError = c.createError;
        std::ostringstream out;
        InstallService(installer, c.programPath, /*pathError=*/122, out);
        EXPECT_EQ(out.str(), c.output) << c.name;
        if (c.createError == 0 && c.connectError == 0 && !c.programPath.empty()) {
            EXPECT_EQ(installer.created.name, "Tillvane_SE");
            EXPECT_EQ(installer.created.displayName, "Tillvane_SE");
            EXPECT_EQ(installer.created.programPath, c.programPath);
        }
    }
}

TEST(ServiceInstallationTest, RemovePrintsADotForEachSecondOfStopPending) {
    struct Case {
        const char* name;
        bool stopTaken;
        std::deque<std::uint32_t> states;
        std::uint32_t deleteError;
        const char* output;
        int sleeps;
    };
    const Case cases[] = {
        {"not running", false, {}, 0, "Tillvane_SE is removed.\n", 0},
        {"stops at once",
         true,
         {kServiceStopPending, kServiceStopped},
         0,
         "Stopping Tillvane_SE.\nTillvane_SE is stopped.\nTillvane_SE is removed.\n",
         1},
        {"three seconds pending",
         true,
         {kServiceStopPending, kServiceStopPending, kServiceStopPending, kServiceStopPending,
          kServiceStopped},
         0,
         "Stopping Tillvane_SE....\nTillvane_SE is stopped.\nTillvane_SE is removed.\n",
         4},
        {"stopped by the time of the request",
         true,
         {kServiceStopped},
         0,
         "Stopping Tillvane_SE.\nTillvane_SE is stopped.\nTillvane_SE is removed.\n",
         1},
        {"goes back to running",
         true,
         {kServiceStopPending, kServiceRunning},
         0,
         "Stopping Tillvane_SE.\nTillvane_SE failed to stop.\nTillvane_SE is removed.\n",
         1},
        {"delete refused", false, {}, 1072, "DeleteService failed w/err 0x00000430\n", 0},
    };
    for (const Case& c : cases) {
        ScriptedInstaller installer;
        installer.stopTaken = c.stopTaken;
        installer.states = c.states;
        installer.deleteError = c.deleteError;
        std::ostringstream out;
        int sleeps = 0;
        RemoveService(installer, out, [&] { ++sleeps; });
        EXPECT_EQ(out.str(), c.output) << c.name;
        EXPECT_EQ(sleeps, c.sleeps) << c.name;
    }
}

TEST(ServiceInstallationTest, RemoveStopsAtTheFirstRefusedStep) {
    ScriptedInstaller noManager;
    noManager.connectError = 5;
    std::ostringstream out;
    RemoveService(noManager, out, [] {});
    EXPECT_EQ(out.str(), "OpenSCManager failed w/err 0x00000005\n");

    ScriptedInstaller notInstalled;
    notInstalled.openError = kErrorServiceDoesNotExist;
    out.str("");
    RemoveService(notInstalled, out, [] {});
    EXPECT_EQ(out.str(), "OpenService failed w/err 0x00000424\n");
}

}  // namespace
}  // namespace tillvane
