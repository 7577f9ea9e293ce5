#pragma once
// Who may use the service: the client's address (allowedClients), the name its Host header
// gives (the machine's own and allowedHosts), for a browser's page its origin
// (allowedOrigins), and the till's token (apiTokens).

#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "api/api_tokens.h"
#include "api/client_access.h"
#include "api/host_check.h"
#include "base/throttled_log.h"
#include "http/http_refusal.h"

namespace tillvane {

class WebRequest;

// The till a request comes from by its token, or why it is refused.
struct TillIdentity {
    std::string till;  // empty when no tokens are set
    HttpRefusal refusal;
};

class AccessPolicy {
  public:
    using Log = std::function<void(std::string_view)>;

    // Refusals of one kind from one address reach `log` once a minute, with a count.
    explicit AccessPolicy(Log log) : refusalLog_(std::move(log)) {}

    // The allowedClients list; fails with the entry that does not parse as its text.
    platform::Error SetClients(std::string_view list) { return clients_.Parse(list); }
    void SetHosts(const std::vector<std::string>& machineNames, std::string_view list) {
        hosts_.SetNames(machineNames, list);
    }
    // Origins ("http://host:port", separated by commas or blanks) whose browser pages may
    // use the service.
    void SetOrigins(std::string_view list);
    // The apiTokens list; fails, saying what is wrong, when it does not parse.
    platform::Error SetTokens(std::string_view list) { return tokens_.Parse(list); }

    // Refused, with a log entry, for a client outside allowedClients.
    HttpRefusal AdmitClient(const WebRequest& request) const;
    // Refused, with a log entry, for a request whose Host header names neither this machine
    // nor an allowed name.
    HttpRefusal AdmitHost(const WebRequest& request) const;
    // Refused when a browser sent the request from a site whose origin is not allowed; an
    // allowed origin gets the header fields that let its page read the answer.
    HttpRefusal AdmitOrigin(WebRequest& request) const;
    // A browser's preflight: the header fields that let the page send its request (and reach
    // a private network when it asked to) for an allowed origin; refused for any other
    // origin or none.
    HttpRefusal AdmitPreflight(WebRequest& request) const;
    // The till whose token the request presents (Authorization: Bearer, else a TOKEN field);
    // none when no tokens are set. Refused, with a log entry and the header field that names
    // the scheme, when tokens are set and it presents none or an unknown one.
    TillIdentity IdentifyTill(WebRequest& request) const;

    // Logs the counts of refusals still held back; at the stop.
    void FlushRefusalLog() { refusalLog_.Flush(std::numeric_limits<std::int64_t>::max()); }

  private:
    // True when the request names an origin in allowedOrigins.
    bool AllowsOrigin(const WebRequest& request) const;
    // Logs `entry`, a refusal of `kind` for `request`, unless one of its kind from the same
    // address was logged within the minute.
    void LogRefusal(std::string_view kind, const WebRequest& request, std::string_view entry) const;

    mutable ThrottledLog refusalLog_;
    ClientAccess clients_;
    HostCheck hosts_;
    ApiTokens tokens_;
    std::vector<std::string> origins_;  // normalised
};

}  // namespace tillvane
