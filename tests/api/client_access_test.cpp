// Which clients and which Host names the service serves: each list through the checks the
// server makes, against clients and names on either side of its edges.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/client_access.h"
#include "api/host_check.h"

namespace tillvane {
namespace {

TEST(ClientAccessTest, RangesAdmitTheirOwnAndNoOthers) {
    const struct {
        std::string list;
        std::string client;
        bool allowed;
    } rows[] = {
        {"", "203.0.113.9", true},
        {"  \t ", "::1", true},
        {"192.168.1.16/28", "192.168.1.16", true},
        {"192.168.1.16/28", "192.168.1.31", true},
        {"192.168.1.16/28", "192.168.1.32", false},
        {"192.168.1.16/28", "192.168.1.15", false},
        {"10.0.0.0/9", "10.127.255.255", true},
        {"10.0.0.0/9", "10.128.0.0", false},
        {"fe80::/10", "febf::1", true},
        {"fe80::/10", "fec0::1", false},
        {"0.0.0.0/0", "198.51.100.7", true},
        {"0.0.0.0/0", "::1", false},
        {"::1", "127.0.0.1", false},
        {"127.0.0.1", "::1", false},
        // An IPv4 client reached over an IPv6 socket, and ranges written the IPv6 way.
        {"127.0.0.0/8", "::ffff:127.0.0.1", true},
        {"127.0.0.0/8", "::ffff:128.0.0.1", false},
        {"::ffff:127.0.0.0/104", "127.0.0.1", true},
        {"::ffff:127.0.0.0/104", "::ffff:127.1.2.3", true},
        {"::ffff:127.0.0.0/104", "128.0.0.1", false},
        {"::ffff:127.0.0.1/128", "127.0.0.1", true},
        {"::ffff:127.0.0.1/128", "127.0.0.2", false},
        {"::ffff:127.0.0.1", "127.0.0.1", true},
        {"::ffff:192.168.1.16/124", "192.168.1.31", true},
        {"::ffff:192.168.1.16/124", "192.168.1.32", false},
        {"10.0.0.1, 127.0.0.0/8 ::1", "::1", true},
    };
    for (const auto& row : rows) {
        ClientAccess access;
        const platform::Error bad = access.Parse(row.list);
        ASSERT_TRUE(bad.ok()) << row.list << " [" << bad.text() << "]";
        EXPECT_EQ(access.Allows(row.client), row.allowed) << row.list << " " << row.client;
    }
}

TEST(ClientAccessTest, AListWithoutAReadableEntryIsRefused) {
    const struct {
        std::string list;
        std::string bad;
    } rows[] = {
        {",", ","},
        {"127.0.0.1 10.0.0.300/8", "10.0.0.300/8"},
        {"127.0.0.1/33", "127.0.0.1/33"},
        {"::ffff:127.0.0.1/129", "::ffff:127.0.0.1/129"},
        {"::1/", "::1/"},
        {"10.0.0.0/x", "10.0.0.0/x"},
        {"pos.local", "pos.local"},
    };
    for (const auto& row : rows) {
        ClientAccess access;
        const platform::Error bad = access.Parse(row.list);
        EXPECT_FALSE(bad.ok()) << row.list;
        EXPECT_EQ(bad.text(), row.bad) << row.list;
    }
}

TEST(HostCheckTest, AcceptsAddressesLocalhostAndTheMachinesOwnNames) {
    HostCheck check;
    check.SetNames({"TillPC"}, "pos.shop.lan, Kasse2 ");
    const struct {
        std::string host;
        bool allowed;
    } rows[] = {
        {"127.0.0.1:8088", true},
        {"[::1]:8088", true},
        {"[fe80::1]:1", true},
        {"LocalHost:8088", true},
        {"localhost.:8088", true},
        {"TILLPC:8088", true},
        {"pos.shop.lan:8088", true},
        {"kasse2", true},
        {" 127.0.0.1 ", true},
        {"127.0.0.1:", true},
        {"evil.example:8088", false},
        {"localhost.evil.example", false},
        {"tillpc.evil.example", false},
        {"shop.lan", false},
        {"", false},
        {".", false},
        {":8088", false},
        {"::1", false},
        {"[::1", false},
        {"[::1]x", false},
        {"[127.0.0.1]", false},
        {"[evil.example]", false},
        {"127.0.0.1:80:80", false},
        {"127.0.0.1:http", false},
        {"127.0.0.1:123456", false},
        {"127.1", false},
        {"2130706433", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(check.Allows(row.host), row.allowed) << "[" << row.host << "]";
    }
}

}  // namespace
}  // namespace tillvane
