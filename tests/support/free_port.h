#pragma once
// Free TCP ports for tests that run in parallel.

namespace tillvane::testing {

// A TCP port on 127.0.0.1 that was free a moment ago: the system's choice for a socket bound
// to port 0. 0 when no socket could be bound.
int FreeTcpPort();

}  // namespace tillvane::testing
