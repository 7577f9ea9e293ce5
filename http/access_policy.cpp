#include "http/access_policy.h"

#include <algorithm>

#include "base/text_split.h"
#include "http/allowed_methods.h"
#include "http/command_request_adapter.h"
#include "http/request_limits.h"
#include "http/web_request.h"
#include "requests/replies.h"

namespace tillvane {

namespace {

constexpr std::string_view kOriginHeader = "Origin";
constexpr std::string_view kHostHeader = "Host";
constexpr std::string_view kFetchSiteHeader = "Sec-Fetch-Site";
// Separators between the entries of allowedOrigins.
constexpr std::string_view kOriginSeparators = ", \t";
constexpr std::string_view kAuthorizationHeader = "Authorization";
constexpr std::string_view kBearerScheme = "Bearer";
constexpr std::string_view kBlanks = " \t";
// A browser's preflight: what it asks for.
constexpr std::string_view kPrivateNetworkRequestHeader = "Access-Control-Request-Private-Network";
// How long a browser may keep the answer to a preflight, in seconds.
constexpr int kPreflightMaxAgeSeconds = 600;

// The token of "Bearer <token>"; empty for any other scheme or none.
std::string_view BearerToken(std::string_view authorization) {
    const std::size_t schemeEnd = authorization.find_first_of(kBlanks);
    if (schemeEnd == std::string_view::npos ||
        !EqualsIgnoringCase(authorization.substr(0, schemeEnd), kBearerScheme)) {
        return {};
    }
    authorization.remove_prefix(schemeEnd);
    authorization.remove_prefix(
        std::min(authorization.find_first_not_of(kBlanks), authorization.size()));
    while (!authorization.empty() && kBlanks.find(authorization.back()) != std::string_view::npos) {
        authorization.remove_suffix(1);
    }
    return authorization;
}

// Scheme and host are case-insensitive; a configured origin may end in "/".
std::string NormalisedOrigin(std::string_view origin) {
    while (origin.ends_with('/')) origin.remove_suffix(1);
    return ToLowerAscii(origin);
}

}  // namespace

void AccessPolicy::LogRefusal(std::string_view kind, const WebRequest& request,
                              std::string_view entry) const {
    refusalLog_.Note(std::string(kind) + " " + request.clientAddress(), entry,
                     ThrottledLog::NowMillis());
}

void AccessPolicy::SetOrigins(std::string_view list) {
    origins_.clear();
    for (const std::string_view origin : SplitList(list, kOriginSeparators)) {
        origins_.push_back(NormalisedOrigin(origin));
    }
}

bool AccessPolicy::AllowsOrigin(const WebRequest& request) const {
    if (!request.HasHeader(kOriginHeader)) return false;
    const std::string origin = NormalisedOrigin(request.Header(kOriginHeader));
    return std::find(origins_.begin(), origins_.end(), origin) != origins_.end();
}

bool AccessPolicy::AdmitClient(WebRequest& request) const {
    if (clients_.Allows(request.clientAddress())) return true;
    LogRefusal("client", request,
               "Client not allowed: " + request.clientAddress() + " /" + request.path());
    request.SetStatus(kHttpForbidden);
    request.Write(kClientNotAllowedReply);
    return false;
}

bool AccessPolicy::AdmitHost(WebRequest& request) const {
    // A request without Host (HTTP/1.0) comes from a program, never from a browser's page.
    if (!request.HasHeader(kHostHeader)) return true;
    const std::string host = request.Header(kHostHeader);
    if (hosts_.Allows(host)) return true;
    LogRefusal("host", request,
               "Unknown Host refused: [" + host.substr(0, kMaxLoggedHostLength) + "] from " +
                   request.clientAddress() + " /" + request.path());
    request.SetStatus(kHttpMisdirectedRequest);
    request.Write(kUnknownHostReply);
    return false;
}

bool AccessPolicy::AdmitOrigin(WebRequest& request) const {
    // A browser marks what a page of another site makes it send; programs send neither.
    const bool hasOrigin = request.HasHeader(kOriginHeader);
    const std::string fetchSite = ToLowerAscii(request.Header(kFetchSiteHeader));
    const bool crossSite = hasOrigin || (request.HasHeader(kFetchSiteHeader) &&
                                         fetchSite != "same-origin" && fetchSite != "none");
    if (!crossSite) return true;
    if (!AllowsOrigin(request)) return false;
    // The page may read the answer.
    request.SetResponseHeader("Access-Control-Allow-Origin", request.Header(kOriginHeader));
    request.SetResponseHeader("Vary", "Origin");
    return true;
}

bool AccessPolicy::AdmitPreflight(WebRequest& request) const {
    if (!AllowsOrigin(request)) return false;
    request.SetResponseHeader("Access-Control-Allow-Origin", request.Header(kOriginHeader));
    request.SetResponseHeader("Access-Control-Allow-Methods", std::string(kAllowedMethods));
    request.SetResponseHeader("Access-Control-Allow-Headers",
                              "Content-Type, " + std::string(kAuthorizationHeader) + ", " +
                                  std::string(kIdempotencyKeyHeader));
    request.SetResponseHeader("Access-Control-Max-Age", std::to_string(kPreflightMaxAgeSeconds));
    request.SetResponseHeader("Vary", "Origin");
    // A public page that reaches this machine on the shop's network asks first.
    if (EqualsIgnoringCase(request.Header(kPrivateNetworkRequestHeader), "true")) {
        request.SetResponseHeader("Access-Control-Allow-Private-Network", "true");
    }
    return true;
}

bool AccessPolicy::IdentifyTill(WebRequest& request, std::string& till) const {
    till.clear();
    if (tokens_.empty()) return true;
    const bool inHeader = request.HasHeader(kAuthorizationHeader);
    const std::string header = request.Header(kAuthorizationHeader);
    const std::string token = inHeader                       ? std::string(BearerToken(header))
                              : request.HasPOST(kTokenField) ? request.POST(kTokenField)
                                                             : request.GET(kTokenField);
    if (!token.empty()) {
        if (std::optional<std::string> name = tokens_.TillOf(token)) {
            till = std::move(*name);
            return true;
        }
    }
    // The token itself is never logged: the log is read by more people than the till.
    LogRefusal(token.empty() ? "no token" : "unknown token", request,
               std::string(token.empty() ? "Request without a token refused: "
                                         : "Request with an unknown token refused: ") +
                   request.clientAddress() + " /" + request.path());
    request.SetResponseHeader("WWW-Authenticate", std::string(kBearerScheme));
    return false;
}

}  // namespace tillvane
