// The printer's network connection against a loopback listener, on both systems (Winsock
// under Wine too): what it sends and reads, and how each way of the other end going shows.

#include <utility>  // before Boost: Asio's awaitable.hpp misses it under C++20

#include <gtest/gtest.h>
#include <boost/asio.hpp>

#include "platform/tcp_connection.h"
#include "tests/support/wait.h"

namespace tillvane::platform {
namespace {

using namespace std::chrono_literals;
using boost::asio::ip::tcp;

class TcpConnectionTest : public ::testing::Test {
  protected:
    std::uint16_t port() const { return acceptor.local_endpoint().port(); }
    // Connects and takes the connection on the listener's side.
    void Connect() {
        ASSERT_TRUE(connection.Connect("127.0.0.1", port(), 3s).ok());
        ASSERT_TRUE(connection.ApplyReadTimeout(200ms).ok());
        printer = acceptor.accept();
    }

    boost::asio::io_context io;
    tcp::acceptor acceptor{io, {boost::asio::ip::address_v4::loopback(), 0}};
    tcp::socket printer{io};
    TcpConnection connection;
};

TEST_F(TcpConnectionTest, CarriesBytesBothWaysAndWaitsOutItsReadTimeout) {
    Connect();
    ASSERT_TRUE(connection.Write("\x01req\x03").ok());
    std::string received(5, '\0');
    boost::asio::read(printer, boost::asio::buffer(received));
    EXPECT_EQ(received, "\x01req\x03");
    boost::asio::write(printer, boost::asio::buffer(std::string("ab")));
    Error error;
    EXPECT_EQ(connection.ReadByte(error), 'a');
    EXPECT_TRUE(connection.CheckLine().ok()) << "a byte waiting is no loss";
    connection.DiscardInput();
    EXPECT_EQ(connection.ReadByte(error), std::nullopt);
    EXPECT_TRUE(error.ok()) << error.text();
}

TEST_F(TcpConnectionTest, APrinterThatClosesOrResetsIsGone) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        Connect();
        if (reset) printer.set_option(boost::asio::socket_base::linger(true, 0));
        printer.close();
        // The line check notices without a transfer; a read fails rather than waits.
        EXPECT_TRUE(testing::WaitUntil([this] { return !connection.CheckLine().ok(); }, 2s));
        Error error;
        EXPECT_EQ(connection.ReadByte(error), std::nullopt);
        EXPECT_FALSE(error.ok());
    }
}

TEST_F(TcpConnectionTest, NobodyListeningIsRefused) {
    const std::uint16_t closedPort = port();
    acceptor.close();
    EXPECT_FALSE(connection.Connect("127.0.0.1", closedPort, 3s).ok());
    EXPECT_FALSE(connection.isOpen());
}

}  // namespace
}  // namespace tillvane::platform
