// Event-log entries as the syslog socket receives them: priority, source, process and text.

#include "platform/posix/syslog_event_log.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/posix/unique_fd.h"
#include "tests/support/temp_dir.h"

namespace tillvane::platform {
namespace {

TEST(SyslogEventLogTest, EachEntryIsOneDatagramUnderItsSource) {
    testing::TempDir dir;
    const std::string path = dir.File("log");
    UniqueFd receiver(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(receiver.valid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(receiver.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    const std::string pid = std::to_string(getpid());
    const struct {
        EventLogEntry entry;
        std::string datagram;
    } rows[] = {
        {{"Tillvane_SE", kEventLogErrorType, 0, 0, {"Tillvane_SE", "port in use"}},
         "<27>Tillvane_SE[" + pid + "]: port in use"},
        {{"Tillvane_SE", kEventLogWarningType, 0, 0, {"Tillvane_SE", "slow"}},
         "<28>Tillvane_SE[" + pid + "]: slow"},
        {{"Other", kEventLogInformationType, 0, 0, {"Tillvane_SE", "started"}},
         "<30>Other[" + pid + "]: Tillvane_SE started"},
    };
    SyslogEventLog log(path);
    for (const auto& row : rows) {
        log.Report(row.entry);
        pollfd watched{receiver.get(), POLLIN, 0};
        ASSERT_EQ(poll(&watched, 1, 5000), 1);
        char buffer[512];
        const ssize_t got = recv(receiver.get(), buffer, sizeof buffer, 0);
        ASSERT_GT(got, 0);
        EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(got)), row.datagram);
    }
    // No syslog daemon: the entry is lost, quietly.
    SyslogEventLog nowhere(dir.File("absent"));
    nowhere.Report(rows[0].entry);
}

}  // namespace
}  // namespace tillvane::platform
