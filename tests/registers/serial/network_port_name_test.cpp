#include "registers/serial/network_port_name.h"

#include <gtest/gtest.h>

namespace tillvane {
namespace {

TEST(NetworkPortNameTest, HostAndPortOrNothing) {
    const struct {
        const char* name;
        const char* host;  // null: not a usable address
        std::uint16_t port;
    } rows[] = {
        {"tcp://192.168.1.77:4999", "192.168.1.77", 4999},
        {"TCP://printer.shop.lan:1", "printer.shop.lan", 1},
        {"tcp://[fd00::77]:65535", "fd00::77", 65535},
        {"tcp://fd00::77:4999", nullptr, 0},  // IPv6 needs its brackets
        {"tcp://[fd00::77]4999", nullptr, 0},
        {"tcp://192.168.1.77", nullptr, 0},
        {"tcp://192.168.1.77:", nullptr, 0},
        {"tcp://192.168.1.77:65536", nullptr, 0},
        {"tcp://192.168.1.77:0", nullptr, 0},
        {"tcp://192.168.1.77:+80", nullptr, 0},
        {"tcp://:4999", nullptr, 0},
        {"tcp://[]:4999", nullptr, 0},
        {"COM1", nullptr, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Result<NetworkAddress> address = ParseNetworkPortName(row.name);
        ASSERT_EQ(address.ok(), row.host != nullptr);
        if (!address) continue;
        EXPECT_EQ(address->host, row.host);
        EXPECT_EQ(address->port, row.port);
    }
}

}  // namespace
}  // namespace tillvane
