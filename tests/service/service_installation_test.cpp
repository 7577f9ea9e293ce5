// Installation and removal as the console shows them, over a scripted service manager: the
// same on every system (under Wine the manager waits for a stop, so no dot is ever seen there),
// and the steps that Wine does not show (failure actions, the delayed start and its refusal,
// the folder's rights).

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/program_path.h"
#include "platform/service_control.h"
#include "platform/service_installer.h"
#include "service/service_installation.h"

namespace tillvane {
namespace {

using namespace platform;

// A service manager whose answers come from a script: each call is recorded as a line, a
// step named in `refusals` fails with that error, and the stop request and each later query
// report the next of `states` (the last one repeats).
const Error kNotActive(1062, "The service has not been started");

class ScriptedInstaller final : public ServiceInstaller {
  public:
    std::map<std::string, Error> refusals;
    std::deque<std::uint32_t> states;
    std::vector<std::string> calls;
    ServiceDefinition created;

    Error Connect(bool forCreate) override {
        return Step("Connect", forCreate ? "create" : "query");
    }
    Error GrantFolderToServiceAccount(const std::string& folder) override {
        return Step("GrantFolderToServiceAccount", folder);
    }
    Error CreateService(const ServiceDefinition& service) override {
        created = service;
        return Step("CreateService",
                    service.name.full() + " " + service.programPath + " " +
                        (service.start == ServiceStart::automatic ? "automatic" : "on demand"));
    }
    Error SetDescription(const std::string& description) override {
        return Step("SetDescription", description);
    }
    Error SetFailureActions(const FailureActions& actions) override {
        std::string delays;
        for (const auto delay : actions.restartDelays)
            delays += std::to_string(delay.count()) + " ";
        return Step("SetFailureActions",
                    delays + "reset " + std::to_string(actions.resetPeriod.count()));
    }
    Error SetFailureActionsOnFailedExit() override {
        return Step("SetFailureActionsOnFailedExit", "");
    }
    Error SetDelayedAutoStart() override { return Step("SetDelayedAutoStart", ""); }
    Error RegisterEventSource(const std::string& source, const std::string& program) override {
        return Step("RegisterEventSource", source + " " + program);
    }
    Error RemoveEventSource(const std::string& source) override {
        return Step("RemoveEventSource", source);
    }
    Error OpenService(const ServiceName& name) override { return Step("OpenService", name.full()); }
    Error RequestStop(std::uint32_t& state) override {
        if (auto error = Step("RequestStop", ""); !error.ok()) return error;
        return NextState(state);
    }
    Error QueryState(std::uint32_t& state) override {
        if (auto error = Step("QueryState", ""); !error.ok()) return error;
        return NextState(state);
    }
    Error DeleteService() override { return Step("DeleteService", ""); }

  private:
    Error NextState(std::uint32_t& state) {
        if (states.empty()) return kNotActive;
        state = states.front();
        if (states.size() > 1) states.pop_front();
        return {};
    }
    Error Step(const std::string& name, const std::string& arguments) {
        calls.push_back(arguments.empty() ? name : name + " " + arguments);
        const auto refusal = refusals.find(name);
        return refusal == refusals.end() ? Error() : refusal->second;
    }
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
        if (c.connectError != 0) installer.refusals["Connect"] = Error(c.connectError, "refused");
        if (c.createError != 0)
            installer.refusals["CreateService"] = Error(c.createError, "refused");
        std::ostringstream out;
        InstallService(installer, c.programPath, Error(122, "buffer too small"),
                       ServiceStart::onDemand, out);
        EXPECT_EQ(out.str(), c.output) << c.name;
        if (c.createError == 0 && c.connectError == 0 && !c.programPath.empty()) {
            EXPECT_EQ(installer.created.name.full(), "Tillvane_SE");
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
        if (!c.stopTaken) installer.refusals["RequestStop"] = kNotActive;
        installer.states = c.states;
        if (c.deleteError != 0)
            installer.refusals["DeleteService"] = Error(c.deleteError, "refused");
        std::ostringstream out;
        int sleeps = 0;
        RemoveService(installer, out, [&] { ++sleeps; });
        EXPECT_EQ(out.str(), c.output) << c.name;
        EXPECT_EQ(sleeps, c.sleeps) << c.name;
    }
}

TEST(ServiceInstallationTest, RemoveStopsAtTheFirstRefusedStep) {
    ScriptedInstaller noManager;
    noManager.refusals["Connect"] = Error(5, "Access is denied");
    std::ostringstream out;
    RemoveService(noManager, out, [] {});
    EXPECT_EQ(out.str(), "OpenSCManager failed w/err 0x00000005\n");

    ScriptedInstaller notInstalled;
    notInstalled.refusals["OpenService"] = Error(kErrorServiceDoesNotExist, "no such service");
    out.str("");
    RemoveService(notInstalled, out, [] {});
    EXPECT_EQ(out.str(), "OpenService failed w/err 0x00000424\n");
}

#ifdef _WIN32
const std::string kProgram = "C:\\Tillvane\\Tillvane_se.exe";
const std::string kFolder = "C:\\Tillvane";
#else
const std::string kProgram = "/opt/tillvane/Tillvane_se";
const std::string kFolder = "/opt/tillvane";
#endif

TEST(ServiceInstallationTest, InstallationStepsAndWhatEachRefusalDoes) {
    const std::string create = "CreateService Tillvane_SE " + kProgram;
    const std::string description = std::string("SetDescription ") + kServiceDescription;
    const std::string failureActions = "SetFailureActions 5000 10000 30000 reset 86400";
    const std::string onFailedExit = "SetFailureActionsOnFailedExit";
    const std::string eventSource = "RegisterEventSource Tillvane_SE " + kProgram;
    const std::string grant = "GrantFolderToServiceAccount " + kFolder;
    const Error invalidParameter(87, "The parameter is incorrect");
    const Error accessDenied(5, "Access is denied");
    const struct {
        const char* name;
        ServiceStart start;
        std::map<std::string, Error> refusals;
        std::vector<std::string> calls;
        std::string output;
    } rows[] = {
        {"on demand",
         ServiceStart::onDemand,
         {},
         {"Connect create", grant, create + " on demand", description, failureActions, onFailedExit,
          eventSource},
         "Tillvane_SE is installed.\n"},
        {"automatic, delayed",
         ServiceStart::automatic,
         {},
         {"Connect create", grant, create + " automatic", description, failureActions, onFailedExit,
          "SetDelayedAutoStart", eventSource},
         "Tillvane_SE is installed.\n"},
        {"automatic, the delay refused (Wine): automatic without delay",
         ServiceStart::automatic,
         {{"SetDelayedAutoStart", invalidParameter}},
         {"Connect create", grant, create + " automatic", description, failureActions, onFailedExit,
          "SetDelayedAutoStart", eventSource},
         "Warning: Delaying the automatic start failed w/err 0x00000057 (The parameter is "
         "incorrect): the service starts with the system, without delay\n"
         "Tillvane_SE is installed.\n"},
        {"folder rights refused: nothing installed",
         ServiceStart::onDemand,
         {{"GrantFolderToServiceAccount", accessDenied}},
         {"Connect create", grant},
         "Tillvane_SE is not installed: the service account cannot be given the right to "
         "write in " +
             kFolder +
             " (err 0x00000005: Access is denied). Put the program in a folder of its own and "
             "install it as an administrator.\n"},
        {"failure actions refused",
         ServiceStart::onDemand,
         {{"SetFailureActions", accessDenied}},
         {"Connect create", grant, create + " on demand", description, failureActions, eventSource},
         "Warning: Setting the restarts after a failure failed w/err 0x00000005 (Access is "
         "denied): a crashed service stays stopped\n"
         "Tillvane_SE is installed.\n"},
        {"restarts on a failed exit refused (Wine): crashes still restart",
         ServiceStart::onDemand,
         {{"SetFailureActionsOnFailedExit", invalidParameter}},
         {"Connect create", grant, create + " on demand", description, failureActions, onFailedExit,
          eventSource},
         "Warning: Restarting after a failed start failed w/err 0x00000057 (The parameter is "
         "incorrect): only a crash restarts the service\n"
         "Tillvane_SE is installed.\n"},
        {"description and event source refused",
         ServiceStart::onDemand,
         {{"SetDescription", accessDenied}, {"RegisterEventSource", accessDenied}},
         {"Connect create", grant, create + " on demand", description, failureActions, onFailedExit,
          eventSource},
         "Warning: Setting the description failed w/err 0x00000005 (Access is denied): the "
         "service works without it\n"
         "Warning: Registering the event source failed w/err 0x00000005 (Access is denied): "
         "the event log shows the entries without their texts\n"
         "Tillvane_SE is installed.\n"},
        {"exists already",
         ServiceStart::automatic,
         {{"CreateService", Error(kErrorServiceExists, "exists")}},
         {"Connect create", grant, create + " automatic"},
         "CreateService failed w/err 0x00000431\n"},
        {"no service manager",
         ServiceStart::onDemand,
         {{"Connect", accessDenied}},
         {"Connect create"},
         "OpenSCManager failed w/err 0x00000005\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedInstaller installer;
        installer.refusals = row.refusals;
        std::ostringstream out;
        InstallService(installer, kProgram, Error(), row.start, out);
        EXPECT_EQ(installer.calls, row.calls);
        EXPECT_EQ(out.str(), row.output);
    }
}

TEST(ServiceInstallationTest, RemovalDeletesTheServiceAndItsEventSource) {
    ScriptedInstaller installer;
    installer.refusals = {{"RequestStop", kNotActive}};
    std::ostringstream out;
    RemoveService(installer, out, [] {});
    EXPECT_EQ(installer.calls,
              (std::vector<std::string>{"Connect query", "OpenService Tillvane_SE", "RequestStop",
                                        "DeleteService", "RemoveEventSource Tillvane_SE"}));
    EXPECT_EQ(out.str(), "Tillvane_SE is removed.\n");

    // A service that cannot be deleted keeps its event source.
    ScriptedInstaller refusing;
    refusing.refusals = {{"RequestStop", kNotActive},
                         {"DeleteService", Error(5, "Access is denied")}};
    std::ostringstream refused;
    RemoveService(refusing, refused, [] {});
    EXPECT_EQ(refusing.calls.back(), "DeleteService");
    EXPECT_EQ(refused.str(), "DeleteService failed w/err 0x00000005\n");
}

}  // namespace
}  // namespace tillvane
