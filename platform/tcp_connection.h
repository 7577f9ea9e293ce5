#pragma once
// A TCP connection to a printer on the network. Frames are small and each waits for its
// reply, so Nagle's delay is switched off; keep-alive probes find a printer that vanished
// without closing the connection (switched off, or a cable pulled) while the line is idle.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_device.h"

namespace tillvane::platform {

// An idle connection is probed after this long, then every interval, and given up after the
// count of probes without an answer.
inline constexpr std::chrono::seconds kKeepAliveIdle{10};
inline constexpr std::chrono::seconds kKeepAliveInterval{2};
inline constexpr int kKeepAliveProbes = 3;

class TcpConnection final : public ByteDevice {
  public:
    TcpConnection();
    ~TcpConnection() override;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to `host` (a name or an address) on `port`, giving up after `timeout` in all;
    // each address the name stands for is tried in turn. Closes a connection made before.
    Error Connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout);

    Error ApplyReadTimeout(std::chrono::milliseconds timeout) override;
    void Close() override;
    bool isOpen() const override;
    Error Write(std::string_view bytes) override;
    std::optional<char> ReadByte(Error& error) override;
    void DiscardInput() override;
    Error CheckLine() override;

  private:
    struct Socket;
    std::unique_ptr<Socket> socket_;
    std::chrono::milliseconds readTimeout_{0};
};

}  // namespace tillvane::platform
