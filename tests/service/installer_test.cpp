// Installing and removing the systemd unit, against a unit folder of the test's own and
// stand-ins for systemctl and useradd that record their calls.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/systemd_service_installer.h"
#include "service/service_installation.h"
#include "tests/support/temp_dir.h"

namespace tillvane {
namespace {

using namespace platform;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(SystemdUnitTest, ProgramPathIsAlwaysOneQuotedWord) {
    struct Case {
        const char* program;
        const char* execStart;
        const char* workingDirectory;
    };
    const Case cases[] = {
        {"/opt/pos/Tillvane_se", "ExecStart=\"/opt/pos/Tillvane_se\"", "WorkingDirectory=/opt/pos"},
        {"/opt/pos svc/Tillvane_se", "ExecStart=\"/opt/pos svc/Tillvane_se\"",
         "WorkingDirectory=/opt/pos svc"},
        {"/opt/a\"b\\c/Tillvane_se", "ExecStart=\"/opt/a\\\"b\\\\c/Tillvane_se\"",
         "WorkingDirectory=/opt/a\"b\\c"},
        {"/opt/100%/$HOME/Tillvane_se", "ExecStart=\"/opt/100%%/$$HOME/Tillvane_se\"",
         "WorkingDirectory=/opt/100%%/$HOME"},
    };
    for (const Case& c : cases) {
        const Result<std::string> unit =
            SystemdUnitText({"Tillvane_SE", "Tillvane_SE", c.program, "", ServiceStart::onDemand});
        ASSERT_TRUE(unit.ok());
        const std::string& text = unit.value();
        std::istringstream lines(text);
        std::vector<std::string> all;
        for (std::string line; std::getline(lines, line);) all.push_back(line);
        for (const char* expected :
             {c.execStart, c.workingDirectory, "Type=notify", "User=tillvane",
              "SupplementaryGroups=dialout", "Description=Tillvane_SE", "[Service]"}) {
            EXPECT_NE(std::find(all.begin(), all.end(), expected), all.end()) << expected << "\n"
                                                                              << text;
        }
    }
}

TEST(SystemdUnitTest, PathWithALineBreakIsRefused) {
    EXPECT_FALSE(SystemdUnitText({"Tillvane_SE", "Tillvane_SE", "/opt/x\nExecStartPre=/bin/sh", "",
                                  ServiceStart::onDemand})
                     .ok());
}

// A unit folder and fake helpers. The fake systemctl logs its arguments and answers
// is-active with the next line of a list of states (the last one repeats).
class InstallerFixture : public ::testing::Test {
  protected:
    InstallerFixture() {
        std::filesystem::create_directories(UnitDir());
        WriteScript("systemctl",
                    "echo \"$*\" >> '" + dir_.File("systemctl.calls") +
                        "'\n"
                        "case \"$1\" in\n"
                        "  is-active)\n"
                        "    states='" +
                        dir_.File("states") +
                        "'\n"
                        "    state=$(head -n 1 \"$states\")\n"
                        "    [ \"$(wc -l < \"$states\")\" -gt 1 ] && sed -i 1d \"$states\"\n"
                        "    echo \"$state\"; [ \"$state\" = active ] && exit 0; exit 3;;\n"
                        "  daemon-reload) exit $(cat '" +
                        dir_.File("reload-exit") +
                        "' 2>/dev/null || echo 0);;\n"
                        "esac\n"
                        "exit 0\n");
        WriteScript("useradd", "echo \"$*\" >> '" + dir_.File("useradd.calls") + "'\n");
        SetStates({"inactive"});
    }

    std::string UnitDir() const { return dir_.File("units"); }
    std::string UnitFile() const { return dir_.File("units/Tillvane_SE.service"); }

    SystemdServiceInstaller Installer() const {
        return SystemdServiceInstaller({UnitDir(), dir_.File("systemctl"), dir_.File("useradd")});
    }

    void SetStates(const std::vector<std::string>& states) {
        std::string text;
        for (const std::string& state : states) text += state + "\n";
        WriteFile(dir_.File("states"), text);
    }

    std::string Install(const std::string& program = "/opt/pos svc/Tillvane_se",
                        ServiceStart start = ServiceStart::onDemand) {
        auto installer = Installer();
        std::ostringstream out;
        InstallService(installer, program, Error(2, "No such file or directory"), start, out);
        return out.str();
    }

    std::string Remove() {
        auto installer = Installer();
        std::ostringstream out;
        int sleeps = 0;
        RemoveService(installer, out, [&] { ++sleeps; });
        return out.str();
    }

    std::string SystemctlCalls() const { return ReadFile(dir_.File("systemctl.calls")); }

    TempDir dir_;

  private:
    void WriteScript(const std::string& name, const std::string& body) {
        WriteFile(dir_.File(name), "#!/bin/sh\n" + body);
        std::filesystem::permissions(dir_.File(name), std::filesystem::perms::owner_all);
    }
};

TEST_F(InstallerFixture, InstallWritesTheUnitAndReloadsSystemd) {
    EXPECT_EQ(Install(), "Tillvane_SE is installed.\n");
    const std::string unit = ReadFile(UnitFile());
    EXPECT_NE(unit.find("ExecStart=\"/opt/pos svc/Tillvane_se\"\n"), std::string::npos) << unit;
    EXPECT_EQ(SystemctlCalls(), "daemon-reload\n");
    // Installed, not enabled: systemctl was never asked to enable it.
    if (getpwnam(kServiceAccountName) == nullptr) {
        EXPECT_EQ(ReadFile(dir_.File("useradd.calls")),
                  "--system --user-group --no-create-home --home-dir /nonexistent --shell "
                  "/usr/sbin/nologin --groups dialout tillvane\n");
    }
}

TEST_F(InstallerFixture, AutomaticStartEnablesTheUnitAndRemovalDisablesIt) {
    EXPECT_EQ(Install("/opt/pos/Tillvane_se", ServiceStart::automatic),
              "Tillvane_SE is installed.\n");
    EXPECT_EQ(SystemctlCalls(), "daemon-reload\nenable Tillvane_SE.service\n");
    EXPECT_EQ(ReadFile(UnitFile()).rfind("# Started with the system", 0), 0u);
    EXPECT_EQ(Remove(), "Tillvane_SE is removed.\n");
    EXPECT_NE(SystemctlCalls().find("disable Tillvane_SE.service\n"), std::string::npos);
}

TEST(SystemdUnitTest, RestartsAfterAFailureAndKeepsToItsFolders) {
    const Result<std::string> unit =
        SystemdUnitText({"Tillvane_SE", "Tillvane_SE", "/opt/tillvane/Tillvane_se",
                         "Receipt printer", ServiceStart::onDemand});
    ASSERT_TRUE(unit.ok());
    const std::string& text = unit.value();
    std::istringstream lines(text);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    for (const char* expected :
         {"Description=Tillvane_SE: Receipt printer", "Restart=on-failure", "RestartSec=5",
          "RestartPreventExitStatus=2 3 5 6 8 64", "NoNewPrivileges=yes", "ProtectSystem=full",
          "ProtectHome=yes", "PrivateTmp=yes"}) {
        EXPECT_NE(std::find(all.begin(), all.end(), expected), all.end()) << expected;
    }
    // Serial ports are devices: a private /dev would hide them.
    EXPECT_EQ(text.find("PrivateDevices"), std::string::npos);
    EXPECT_EQ(text.find("DevicePolicy"), std::string::npos);
}

TEST_F(InstallerFixture, InstallFailuresPrintTheCode) {
    EXPECT_EQ(Install(""), "GetModuleFileName failed w/err 0x00000002\n");
    ASSERT_EQ(Install(), "Tillvane_SE is installed.\n");
    EXPECT_EQ(Install(), "CreateService failed w/err 0x00000431\n");

    std::filesystem::remove(UnitFile());
    WriteFile(dir_.File("reload-exit"), "1\n");
    EXPECT_EQ(Install(), "CreateService failed w/err 0x00000001\n");
    EXPECT_FALSE(std::filesystem::exists(UnitFile())) << "a unit systemd refused is taken back";

    std::filesystem::remove_all(UnitDir());
    EXPECT_EQ(Install(), "OpenSCManager failed w/err 0x00000002\n");
}

TEST_F(InstallerFixture, RemoveStopsARunningServiceWithADotPerSecond) {
    struct Case {
        const char* name;
        std::vector<std::string> states;  // is-active answers, the first before the stop
        const char* output;
        bool stopRequested;
    };
    const Case cases[] = {
        {"not running", {"inactive"}, "Tillvane_SE is removed.\n", false},
        {"failed earlier", {"failed"}, "Tillvane_SE is removed.\n", false},
        {"stops at once",
         {"active", "inactive"},
         "Stopping Tillvane_SE.\nTillvane_SE is stopped.\nTillvane_SE is removed.\n",
         true},
        {"stops slowly",
         {"active", "deactivating", "deactivating", "inactive"},
         "Stopping Tillvane_SE...\nTillvane_SE is stopped.\nTillvane_SE is removed.\n",
         true},
        {"does not stop",
         {"active", "active"},
         "Stopping Tillvane_SE.\nTillvane_SE failed to stop.\nTillvane_SE is removed.\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir_.File("systemctl.calls"));
        ASSERT_EQ(Install(), "Tillvane_SE is installed.\n");
        SetStates(c.states);
        EXPECT_EQ(Remove(), c.output);
        EXPECT_FALSE(std::filesystem::exists(UnitFile()));
        const std::string calls = SystemctlCalls();
        EXPECT_EQ(calls.find("stop --no-block Tillvane_SE.service\n") != std::string::npos,
                  c.stopRequested)
            << calls;
        EXPECT_EQ(calls.substr(calls.size() - std::string("daemon-reload\n").size()),
                  "daemon-reload\n");
    }
}

TEST_F(InstallerFixture, RemovingWhatIsNotInstalledSaysSo) {
    EXPECT_EQ(Remove(), "OpenService failed w/err 0x00000424\n");
    std::filesystem::remove_all(UnitDir());
    EXPECT_EQ(Remove(), "OpenSCManager failed w/err 0x00000002\n");
}

}  // namespace
}  // namespace tillvane
