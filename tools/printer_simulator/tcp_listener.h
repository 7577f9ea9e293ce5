#pragma once
// The simulated network printer's listening socket. Bound first and listening later, so that
// the port is known (and printed) while the printer still refuses connections.

#include <cstdint>
#include <string>

namespace tillvane::simulator {

class TcpListener {
  public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds `address` ("host:port", port 0 for one the system picks). False, with the reason in
    // `error`, when it cannot.
    bool Bind(const std::string& address, std::string& error);
    // From now on connections are taken; until then they are refused.
    bool Listen();
    int fd() const { return fd_; }
    // What the service's Port setting names: tcp://host:port.
    std::string PortName() const;

  private:
    int fd_ = -1;
    std::string host_;
    std::uint16_t port_ = 0;
};

}  // namespace tillvane::simulator
