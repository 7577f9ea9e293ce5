#pragma once
// Which connection gives way when the server is full: a pure function of the open connections'
// phases, ages and held memory, so that the caps can be reasoned about (and tested) without
// sockets. No single client may take the server away from the others: one address holds only
// some of the connections, all of them together only so many, and the memory that unfinished
// requests hold together is bounded. When a cap is reached, the connection that has waited
// longest without sending a complete request is closed; one that waits for its answer never is.

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "http/web_server.h"

namespace tillvane {

enum class ConnectionPhase {
    receiving,       // reading a request that is not complete yet
    awaitingAnswer,  // a complete request, its answer not given yet
    answering,       // writing the answer
    lingering,       // refused; dropping what the client still sends before closing
};

struct ConnectionState {
    std::string address;  // the client's address as text
    ConnectionPhase phase = ConnectionPhase::receiving;
    // When the connection began receiving its current (or last) request.
    std::chrono::steady_clock::time_point waitingSince;
    std::size_t bytesHeld = 0;  // memory its unfinished request holds
};

struct AdmissionDecision {
    enum class Verdict { admit, refuse, close };
    Verdict verdict = Verdict::admit;
    // With `close`: the index of the connection to close before deciding again.
    std::size_t victim = 0;

    bool operator==(const AdmissionDecision&) const = default;
};

// Whether a newcomer from `address` may join `open`. `close` names a connection to close first;
// decide again afterwards, as closing one may not be enough.
AdmissionDecision AdmitNewcomer(std::span<const ConnectionState> open, std::string_view address,
                                const WebServerLimits& limits);

// Whether `open[grower]`, whose request has just grown, may keep receiving. `close` names another
// connection to close first; `refuse` means the grower cannot be served within the bound.
AdmissionDecision BoundPendingMemory(std::span<const ConnectionState> open, std::size_t grower,
                                     const WebServerLimits& limits);

}  // namespace tillvane
