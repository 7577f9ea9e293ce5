#pragma once
// Why the web server did not start. A service without its server cannot serve a till, so its
// start fails with one of these codes: the service-specific exit code on Windows, the
// process's exit code on Linux. The numbers are published (README); never change one.

#include <cstdint>
#include <string>

namespace tillvane {

inline constexpr std::uint32_t kServerStarted = 0;
// 1 stays the general failure of a run (the service dispatcher could not start, say).
inline constexpr std::uint32_t kStartNoConfiguration = 2;  // no file, or no text
inline constexpr std::uint32_t kStartInvalidTcpPort = 3;   // tcpPort missing or out of range
inline constexpr std::uint32_t kStartPortInUse = 4;        // another program listens there
inline constexpr std::uint32_t kStartUnusableAddress = 5;  // listenAddress: no IP of this machine
inline constexpr std::uint32_t kStartInvalidClients = 6;   // allowedClients does not parse
inline constexpr std::uint32_t kStartServerFailed = 7;     // any other refusal to listen
inline constexpr std::uint32_t kStartInvalidTokens = 8;    // apiTokens does not parse
// A key written like allowedOrigins or allowedHosts but none of them. A key written like
// another access key fails with that key's code: it stands for a value the server cannot use.
inline constexpr std::uint32_t kStartMisspeltAccessKey = 9;

struct ServerStart {
    std::uint32_t code = kServerStarted;
    // The application-log entry that says why, in the system's words where it refused.
    std::string reason;

    bool ok() const { return code == kServerStarted; }
    explicit operator bool() const { return ok(); }
};

}  // namespace tillvane
