#include "api/access_policy.h"

#include <algorithm>

#include "api/command_request_adapter.h"
#include "api/request_limits.h"
#include "base/text_split.h"
#include "http/allowed_methods.h"
#include "http/web_request.h"
#include "requests/replies.h"
#include "requests/reply_status.h"

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
    const std::string* origin = request.FindHeader(kOriginHeader);
    if (origin == nullptr) return false;
    std::string_view name = *origin;
    while (name.ends_with('/')) name.remove_suffix(1);
    return std::any_of(origins_.begin(), origins_.end(), [name](const std::string& allowed) {
        return EqualsIgnoringCase(allowed, name);
    });
}

HttpRefusal AccessPolicy::AdmitClient(const WebRequest& request) const {
    if (clients_.Allows(request.clientAddress())) return {};
    LogRefusal("client", request,
               "Client not allowed: " + request.clientAddress() + " /" + request.path());
    return {kHttpForbidden, std::string(kClientNotAllowedReply)};
}

HttpRefusal AccessPolicy::AdmitHost(const WebRequest& request) const {
    // A request without Host (HTTP/1.0) comes from a program, never from a browser's page.
    const std::string* host = request.FindHeader(kHostHeader);
    if (host == nullptr || hosts_.Allows(*host)) return {};
    LogRefusal("host", request,
               "Unknown Host refused: [" + host->substr(0, kMaxLoggedHostLength) + "] from " +
                   request.clientAddress() + " /" + request.path());
    return {kHttpMisdirectedRequest, std::string(kUnknownHostReply)};
}

HttpRefusal AccessPolicy::AdmitOrigin(WebRequest& request) const {
    // A browser marks what a page of another site makes it send; programs send neither.
    const std::string* origin = request.FindHeader(kOriginHeader);
    const std::string* fetchSite = request.FindHeader(kFetchSiteHeader);
    const bool crossSite = origin != nullptr || (fetchSite != nullptr &&
                                                 !EqualsIgnoringCase(*fetchSite, "same-origin") &&
                                                 !EqualsIgnoringCase(*fetchSite, "none"));
    if (!crossSite) return {};
    if (!AllowsOrigin(request)) return {kHttpForbidden, std::string(kCrossSiteReply)};
    // The page may read the answer.
    request.SetResponseHeader("Access-Control-Allow-Origin", *origin);
    request.SetResponseHeader("Vary", "Origin");
    return {};
}

HttpRefusal AccessPolicy::AdmitPreflight(WebRequest& request) const {
    if (!AllowsOrigin(request)) return {kHttpForbidden, std::string(kCrossSiteReply)};
    request.SetResponseHeader("Access-Control-Allow-Origin", *request.FindHeader(kOriginHeader));
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
    return {};
}

TillIdentity AccessPolicy::IdentifyTill(WebRequest& request) const {
    if (tokens_.empty()) return {};
    const std::string* header = request.FindHeader(kAuthorizationHeader);
    const std::string token = header != nullptr              ? std::string(BearerToken(*header))
                              : request.HasPOST(kTokenField) ? request.POST(kTokenField)
                                                             : request.GET(kTokenField);
    if (!token.empty()) {
        if (std::optional<std::string> name = tokens_.TillOf(token)) return {std::move(*name), {}};
    }
    // The token itself is never logged: the log is read by more people than the till.
    LogRefusal(token.empty() ? "no token" : "unknown token", request,
               std::string(token.empty() ? "Request without a token refused: "
                                         : "Request with an unknown token refused: ") +
                   request.clientAddress() + " /" + request.path());
    request.SetResponseHeader("WWW-Authenticate", std::string(kBearerScheme));
    return {{}, {kHttpUnauthorized, std::string(kUnknownTokenReply)}};
}

}  // namespace tillvane
