#pragma once
// A request refused instead of served: the HTTP status and the reply text the client gets.
// The one way a refusal travels, from the server's own reading and from the handlers' checks
// alike; status 0 is no refusal.

#include <string>
#include <utility>

namespace tillvane {

struct HttpRefusal {
    int status = 0;
    std::string text;

    HttpRefusal() = default;
    HttpRefusal(int refusalStatus, std::string refusalText)
        : status(refusalStatus), text(std::move(refusalText)) {}

    bool refused() const { return status != 0; }
    explicit operator bool() const { return refused(); }
};

}  // namespace tillvane
