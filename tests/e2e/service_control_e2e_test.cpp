// The program as systemd meets it: the readiness and stop notices on NOTIFY_SOCKET, and
// -install / -remove against a unit folder and a systemctl of the test's own.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/service_process.h"
#include "tests/support/temp_dir.h"

namespace tillvane::testing {
namespace {

using namespace std::chrono_literals;

// A datagram socket in the abstract namespace, as systemd offers one to a Type=notify unit.
class NotifySocket {
  public:
    NotifySocket() {
        static std::atomic<int> counter{0};
        name_ = "tillvane-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        name_.copy(address.sun_path + 1, name_.size());
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name_.size());
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
            ADD_FAILURE() << "cannot bind the notify socket";
        }
    }
    ~NotifySocket() {
        if (fd_ >= 0) close(fd_);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    std::string address() const { return "@" + name_; }

    // The next notice, or empty when none comes within `timeout`.
    std::string Receive(std::chrono::milliseconds timeout) {
        pollfd watched{fd_, POLLIN, 0};
        if (poll(&watched, 1, static_cast<int>(timeout.count())) != 1) return {};
        char buffer[4096];
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
    }

  private:
    std::string name_;
    int fd_ = -1;
};

TEST(ServiceControlEndToEnd, TellsSystemdWhenReadyAndWhenStopping) {
    TempDir dir;
    ServiceProcess service(dir);
    NotifySocket notify;
    std::string failure;
    const int port = service.StartListening(
        [&](int port) { service.WriteConfig({"tcpPort=" + std::to_string(port)}); }, failure, {},
        {{"NOTIFY_SOCKET", notify.address()}});
    ASSERT_NE(port, 0) << failure;
    ChildProcess& child = service.child();
    EXPECT_EQ(notify.Receive(kStartTimeout), "STATUS=Starting");
    // A try on a port taken meanwhile tells its failed start first.
    std::string ready;
    do {
        ready = notify.Receive(kStartTimeout);
    } while (!ready.empty() && ready != "READY=1\nSTATUS=Running");
    EXPECT_EQ(ready, "READY=1\nSTATUS=Running");
    ASSERT_TRUE(child.Signal(SIGTERM));
    EXPECT_EQ(notify.Receive(kStopBound), "STOPPING=1\nSTATUS=Stopping");
    EXPECT_EQ(notify.Receive(kStopBound), "STATUS=Stopped");
    EXPECT_EQ(child.WaitForExit(kStopBound), 0);
}

class InstallEndToEnd : public ::testing::Test {
  protected:
    InstallEndToEnd() {
        std::filesystem::create_directories(unitDir_);
        WriteScript("systemctl", "echo \"$*\" >> '" + dir_.File("systemctl.calls") +
                                     "'\n"
                                     "[ \"$1\" = is-active ] && { echo inactive; exit 3; }\n"
                                     "exit 0\n");
        WriteScript("useradd", "exit 0\n");
    }

    std::string Run(const std::vector<std::string>& arguments, int expectedExit = 0) {
        int exitCode = -1;
        const std::string out = service_.RunToEnd(arguments,
                                                  {{"TILLVANE_SYSTEMD_UNIT_DIR", unitDir_.string()},
                                                   {"TILLVANE_SYSTEMCTL", dir_.File("systemctl")},
                                                   {"TILLVANE_USERADD", dir_.File("useradd")}},
                                                  exitCode);
        EXPECT_EQ(exitCode, expectedExit);
        return out;
    }

    void WriteScript(const std::string& name, const std::string& body) {
        WriteFile(dir_.File(name), "#!/bin/sh\n" + body);
        std::filesystem::permissions(dir_.File(name), std::filesystem::perms::owner_all);
    }

    TempDir dir_;
    // A blank in the program's folder: the unit must still start this program and no other.
    ServiceProcess service_{dir_, "pos service"};
    std::filesystem::path unitDir_ = dir_.path() / "units";
    std::filesystem::path unitFile_ = unitDir_ / "Tillvane_SE.service";
};

TEST_F(InstallEndToEnd, InstallThenRemove) {
    EXPECT_EQ(Run({"-install"}), "Tillvane_SE is installed.\n");
    const std::string unit = ReadFile(unitFile_);
    EXPECT_NE(unit.find("ExecStart=\"" + service_.program() + "\"\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("WorkingDirectory=" + service_.directory().string() + "\n"),
              std::string::npos)
        << unit;
    EXPECT_EQ(Run({"/INSTALL"}, 1), "CreateService failed w/err 0x00000431\n");

    EXPECT_EQ(Run({"/Remove"}), "Tillvane_SE is removed.\n");
    EXPECT_FALSE(std::filesystem::exists(unitFile_));
    EXPECT_EQ(Run({"-remove"}, 1), "OpenService failed w/err 0x00000424\n");
    EXPECT_EQ(ReadFile(dir_.File("systemctl.calls")),
              "daemon-reload\nis-active Tillvane_SE.service\ndisable Tillvane_SE.service\n"
              "daemon-reload\n");
}

TEST_F(InstallEndToEnd, InstallAutoStartsWithTheSystem) {
    EXPECT_EQ(Run({"-install", "AUTO"}), "Tillvane_SE is installed.\n");
    EXPECT_EQ(ReadFile(dir_.File("systemctl.calls")),
              "daemon-reload\nenable Tillvane_SE.service\n");
    EXPECT_EQ(Run({"-remove"}), "Tillvane_SE is removed.\n");
    // Anything else after -install is no "auto": on demand, as before.
    std::filesystem::remove(dir_.File("systemctl.calls"));
    EXPECT_EQ(Run({"-install", "automatic"}), "Tillvane_SE is installed.\n");
    EXPECT_EQ(ReadFile(dir_.File("systemctl.calls")), "daemon-reload\n");
}

TEST_F(InstallEndToEnd, NamedInstanceIsAServiceOfItsOwn) {
    EXPECT_EQ(Run({"-install"}), "Tillvane_SE is installed.\n");
    EXPECT_EQ(Run({"-instance", "front", "-install", "auto"}), "Tillvane_SE_front is installed.\n");
    const std::string unit = ReadFile(unitDir_ / "Tillvane_SE@.service");
    EXPECT_NE(unit.find("ExecStart=\"" + service_.program() + "\" -instance %i\n"),
              std::string::npos)
        << unit;
    EXPECT_EQ(Run({"-instance", "front", "-install"}, 1),
              "CreateService failed w/err 0x00000431\n");
    EXPECT_EQ(Run({"-instance", "back", "-install"}), "Tillvane_SE_back is installed.\n");
    EXPECT_EQ(Run({"-instance", "front", "-remove"}), "Tillvane_SE_front is removed.\n");
    EXPECT_EQ(Run({"-instance", "front", "-remove"}, 1), "OpenService failed w/err 0x00000424\n");
    EXPECT_FALSE(std::filesystem::exists(unitDir_ / "Tillvane_SE@front.service.d"));
    EXPECT_EQ(Run({"-instance", "front.desk", "-install"}, 64).substr(0, 50),
              "Instance name [front.desk] may hold only letters, ");
    EXPECT_EQ(ReadFile(dir_.File("systemctl.calls")),
              "daemon-reload\ndaemon-reload\nenable Tillvane_SE@front.service\ndaemon-reload\n"
              "is-active Tillvane_SE@front.service\ndisable Tillvane_SE@front.service\n"
              "daemon-reload\n");
}

TEST_F(InstallEndToEnd, OtherSwitchesDoNothing) {
    EXPECT_EQ(Run({"--install"}), "");
    EXPECT_EQ(Run({"-x", "-install"}), "");
    EXPECT_FALSE(std::filesystem::exists(unitFile_));
}

}  // namespace
}  // namespace tillvane::testing
