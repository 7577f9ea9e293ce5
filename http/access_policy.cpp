#include "http/access_policy.h"

#include <algorithm>

#include "base/text_split.h"
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

// Scheme and host are case-insensitive; a configured origin may end in "/".
std::string NormalisedOrigin(std::string_view origin) {
    while (origin.ends_with('/')) origin.remove_suffix(1);
    return ToLowerAscii(origin);
}

}  // namespace

void AccessPolicy::SetOrigins(std::string_view list) {
    origins_.clear();
    for (const std::string_view origin : SplitList(list, kOriginSeparators)) {
        origins_.push_back(NormalisedOrigin(origin));
    }
}

bool AccessPolicy::AdmitClient(WebRequest& request) const {
    if (clients_.Allows(request.clientAddress())) return true;
    log_("Client not allowed: " + request.clientAddress() + " /" + request.path());
    request.SetStatus(kHttpForbidden);
    request.Write(kClientNotAllowedReply);
    return false;
}

bool AccessPolicy::AdmitHost(WebRequest& request) const {
    // A request without Host (HTTP/1.0) comes from a program, never from a browser's page.
    if (!request.HasHeader(kHostHeader)) return true;
    const std::string host = request.Header(kHostHeader);
    if (hosts_.Allows(host)) return true;
    log_("Unknown Host refused: [" + host.substr(0, kMaxLoggedHostLength) + "] from " +
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
    const std::string origin = request.Header(kOriginHeader);
    if (hasOrigin &&
        std::find(origins_.begin(), origins_.end(), NormalisedOrigin(origin)) != origins_.end()) {
        // The page may read the answer.
        request.SetResponseHeader("Access-Control-Allow-Origin", origin);
        request.SetResponseHeader("Vary", "Origin");
        return true;
    }
    return false;
}

}  // namespace tillvane
