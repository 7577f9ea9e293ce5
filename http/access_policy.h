#pragma once
// Who may use the service: the client's address (allowedClients), the name its Host header
// gives (the machine's own and allowedHosts), for a browser's page its origin
// (allowedOrigins), and the till's token (apiTokens).

#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "base/throttled_log.h"
#include "http/api_tokens.h"
#include "http/client_access.h"
#include "http/host_check.h"

namespace tillvane {

class WebRequest;

class AccessPolicy {
  public:
    using Log = std::function<void(std::string_view)>;

    // Refusals of one kind from one address reach `log` once a minute, with a count.
    explicit AccessPolicy(Log log) : refusalLog_(std::move(log)) {}

    // The allowedClients list; false, with the entry that does not parse in `badEntry`.
    bool SetClients(std::string_view list, std::string& badEntry) {
        return clients_.Parse(list, badEntry);
    }
    void SetHosts(const std::vector<std::string>& machineNames, std::string_view list) {
        hosts_.SetNames(machineNames, list);
    }
    // Origins ("http://host:port", separated by commas or blanks) whose browser pages may
    // use the service.
    void SetOrigins(std::string_view list);
    // The apiTokens list; false, with what is wrong in `fault`, when it does not parse.
    bool SetTokens(std::string_view list, std::string& fault) { return tokens_.Parse(list, fault); }

    // False, with the refusal in `request` and a log entry, for a client outside
    // allowedClients.
    bool AdmitClient(WebRequest& request) const;
    // False, with the refusal in `request` and a log entry, for a request whose Host header
    // names neither this machine nor an allowed name.
    bool AdmitHost(WebRequest& request) const;
    // False when a browser sent the request from a site whose origin is not allowed; an
    // allowed origin gets the header fields that let its page read the answer.
    bool AdmitOrigin(WebRequest& request) const;
    // A browser's preflight: true, with the header fields that let the page send its request
    // (and reach a private network when it asked to), for an allowed origin; false for any
    // other origin or none.
    bool AdmitPreflight(WebRequest& request) const;
    // The till whose token the request presents (Authorization: Bearer, else a TOKEN field) in
    // `till`; empty when no tokens are set. False, with a log entry and the header field that
    // names the scheme, when tokens are set and it presents none or an unknown one.
    bool IdentifyTill(WebRequest& request, std::string& till) const;

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
