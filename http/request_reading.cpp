#include "http/request_reading.h"

#include <algorithm>
#include <optional>
#include <string>

#include "http/form_decoding.h"
#include "http/web_server.h"

namespace tillvane {

namespace {

HttpRefusal Refused(http::status status, std::string_view text) {
    return {static_cast<int>(status), std::string(text)};
}

constexpr std::string_view kUrlEncodedForm = "application/x-www-form-urlencoded";
constexpr std::string_view kMultipartForm = "multipart/form-data";

constexpr std::string_view kHostField = "Host";
constexpr std::string_view kSchemeEnd = "://";

// A request target as its parts: the path and query, and the host an absolute-form target
// names (nothing for the usual origin form).
struct RequestTarget {
    std::string pathAndQuery;
    std::optional<std::string> authorityHost;
};

// The parts of the request target into `parts`, or a refusal.
HttpRefusal ReadTarget(std::string_view target, RequestTarget& parts) {
    if (target.starts_with("http://") || target.starts_with("https://")) {
        // Absolute form: the authority stands for the Host field, which it overrides.
        target.remove_prefix(target.find(kSchemeEnd) + kSchemeEnd.size());
        const std::size_t authorityEnd = std::min(target.find_first_of("/?#"), target.size());
        std::string_view authority = target.substr(0, authorityEnd);
        // Of "user@host" only the host says where the request goes.
        if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
            authority.remove_prefix(at + 1);
        }
        parts.authorityHost = std::string(authority);
        target.remove_prefix(authorityEnd);
        parts.pathAndQuery = target.starts_with('/') ? std::string() : std::string("/");
    }
    if (!parts.authorityHost && !target.starts_with('/')) {
        return Refused(http::status::bad_request, "malformed request target");
    }
    parts.pathAndQuery += target;
    return {};
}

// Two Host fields leave open which site the request is for; each part of the server could
// believe another one.
bool HasOneHostAtMost(const BeastRequest& request) {
    std::size_t hosts = 0;
    for (const auto& field : request) {
        if (field.name() == http::field::host) ++hosts;
    }
    return hosts <= 1;
}

// Reads the fields of a form body into `form`. A non-empty body of any other type is left
// unread and its media type put in `bodyNotAFormType`; an empty body is simply no fields.
HttpRefusal ParseForm(const BeastRequest& request, FormFields& form,
                      std::optional<std::string>& bodyNotAFormType) {
    const std::string_view contentType = ToStd(request[http::field::content_type]);
    const std::string mediaType = MediaTypeOf(contentType);
    if (mediaType == kUrlEncodedForm || mediaType == kMultipartForm) {
        Result<FormFields> fields =
            mediaType == kUrlEncodedForm
                ? ParseUrlEncoded(request.body())
                : ParseMultipartForm(request.body(), HeaderParameter(contentType, "boundary"));
        if (!fields.ok()) return Refused(http::status::bad_request, fields.error().text());
        form = std::move(fields.value());
        return {};
    }
    if (!request.body().empty()) bodyNotAFormType = mediaType;
    return {};
}

RequestRead Refusing(HttpRefusal refusal) {
    return {WebRequest(), std::move(refusal)};
}

}  // namespace

RequestRead ReadWebRequest(const BeastRequest& request, std::string_view client,
                           std::size_t maxPathLength) {
    const bool isPost = request.method() == http::verb::post;
    if (!isPost && request.method() != http::verb::get && request.method() != http::verb::options) {
        return Refusing(Refused(http::status::method_not_allowed, kMethodNotAllowedReply));
    }
    RequestTarget parts;
    if (HttpRefusal refusal = ReadTarget(ToStd(request.target()), parts)) {
        return Refusing(std::move(refusal));
    }
    if (!HasOneHostAtMost(request)) {
        return Refusing(Refused(http::status::bad_request, "duplicate Host"));
    }
    const std::string_view target = parts.pathAndQuery;
    const std::size_t questionMark = target.find('?');
    Result<std::string> path = PercentDecode(
        target.substr(
            1, questionMark == std::string_view::npos ? std::string_view::npos : questionMark - 1),
        false);
    Result<FormFields> query = FormFields();
    if (path.ok() && questionMark != std::string_view::npos) {
        query = ParseUrlEncoded(target.substr(questionMark + 1));
    }
    if (!path.ok() || !query.ok()) {
        const platform::Error& invalid = path.ok() ? query.error() : path.error();
        return Refusing(Refused(http::status::bad_request, invalid.text()));
    }
    FormFields form;
    if (path->size() > maxPathLength) {
        return Refusing(Refused(http::status::uri_too_long, "request path too long"));
    }
    std::optional<std::string> bodyNotAFormType;
    if (isPost) {
        if (HttpRefusal refusal = ParseForm(request, form, bodyNotAFormType)) {
            return Refusing(std::move(refusal));
        }
    }
    RequestRead read{WebRequest(std::move(path.value()), std::move(query.value()), std::move(form)),
                     {}};
    WebRequest& webRequest = read.request;
    webRequest.SetClientAddress(std::string(client));
    if (bodyNotAFormType) webRequest.MarkBodyNotAForm(std::move(*bodyNotAFormType));
    if (parts.authorityHost) webRequest.AddHeader(std::string(kHostField), *parts.authorityHost);
    for (const auto& field : request) {
        if (parts.authorityHost && field.name() == http::field::host) continue;
        webRequest.AddHeader(std::string(ToStd(field.name_string())),
                             std::string(ToStd(field.value())));
    }
    return read;
}

}  // namespace tillvane
