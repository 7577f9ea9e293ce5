#pragma once
// TCP ports for tests that run in parallel. A port found free may be taken by another test (or
// by a client's outgoing connection) before the server binds it, so a server is started on a
// free port, and on another one when it could not listen there, until it listens on its own.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace tillvane::testing {

// Ports a start is tried on before it counts as failed.
inline constexpr int kMaxPortAttempts = 10;

// A TCP port on 127.0.0.1 that was free a moment ago: the system's choice for a socket bound
// to port 0. 0 when no socket could be bound.
int FreeTcpPort();

// How one try to listen on a port ended.
enum class ListenOutcome {
    listening,  // the very server that was started listens on the port
    portTaken,  // it could not listen there: try another port
    failed,     // it ended, or said nothing in time
};

// Calls `start` with a free port until it reports `listening`, and returns that port; 0 when
// it reports `failed` or kMaxPortAttempts ports were taken. `start` stops what it started
// before it reports anything but `listening`.
int ListenOnFreePort(const std::function<ListenOutcome(int port)>& start);

// The size of the file, 0 when there is none: where the entries of the next start will begin
// in an application log.
std::size_t FileSize(const std::string& path);

// Reads the application log of the web front end from `offset` on until it says whether the
// server listens on `port`: `portTaken` for any failure to listen there, `failed` when
// `running` turns false first or `timeout` passes. An entry only counts while `running` holds,
// so an answer on the port comes from the server that wrote it.
ListenOutcome AwaitListening(const std::string& appLogPath, std::size_t offset, int port,
                             const std::function<bool()>& running,
                             std::chrono::milliseconds timeout);

}  // namespace tillvane::testing
