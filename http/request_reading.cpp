#include "http/request_reading.h"

#include <optional>
#include <string>

#include "http/form_decoding.h"
#include "http/web_server.h"

namespace tillvane {

namespace {

constexpr std::string_view kUrlEncodedForm = "application/x-www-form-urlencoded";
constexpr std::string_view kMultipartForm = "multipart/form-data";

// The path and query of the request target, or a refusal.
std::variant<std::string_view, Refusal> OriginForm(std::string_view target) {
    if (target.starts_with("http://") || target.starts_with("https://")) {
        // Absolute form: drop the scheme and the authority.
        const std::size_t authority = target.find("//") + 2;
        const std::size_t pathStart = target.find('/', authority);
        target =
            pathStart == std::string_view::npos ? std::string_view("/") : target.substr(pathStart);
    }
    if (!target.starts_with('/')) {
        return Refusal{http::status::bad_request, "malformed request target"};
    }
    return target;
}

// Reads the fields of a form body into `form`. A non-empty body of any other type is left
// unread and its media type put in `bodyNotAFormType`; an empty body is simply no fields.
std::optional<Refusal> ParseForm(const BeastRequest& request, FormFields& form,
                                 std::optional<std::string>& bodyNotAFormType) {
    const std::string_view contentType = ToStd(request[http::field::content_type]);
    const std::string mediaType = MediaTypeOf(contentType);
    if (mediaType == kUrlEncodedForm) {
        if (ParseUrlEncoded(request.body(), form)) return std::nullopt;
        return Refusal{http::status::bad_request, "invalid percent-encoding"};
    }
    if (mediaType == kMultipartForm) {
        if (ParseMultipartForm(request.body(), HeaderParameter(contentType, "boundary"), form)) {
            return std::nullopt;
        }
        return Refusal{http::status::bad_request, "malformed multipart form"};
    }
    if (!request.body().empty()) bodyNotAFormType = mediaType;
    return std::nullopt;
}

// An IPv4 client that reached an IPv6 socket is named by its IPv4 address.
std::string ClientAddressText(const asio::ip::address& client) {
    const bool mapped = client.is_v6() && client.to_v6().is_v4_mapped();
    return mapped ? asio::ip::make_address_v4(asio::ip::v4_mapped, client.to_v6()).to_string()
                  : client.to_string();
}

}  // namespace

std::variant<WebRequest, Refusal> ReadWebRequest(const BeastRequest& request,
                                                 const asio::ip::address& client,
                                                 std::size_t maxPathLength) {
    const bool isPost = request.method() == http::verb::post;
    if (!isPost && request.method() != http::verb::get && request.method() != http::verb::options) {
        return Refusal{http::status::method_not_allowed, kMethodNotAllowedReply};
    }
    const auto origin = OriginForm(ToStd(request.target()));
    if (const auto* refusal = std::get_if<Refusal>(&origin)) return *refusal;
    const std::string_view target = std::get<std::string_view>(origin);
    const std::size_t questionMark = target.find('?');
    std::string path;
    FormFields query;
    FormFields form;
    if (!PercentDecode(
            target.substr(1, questionMark == std::string_view::npos ? std::string_view::npos
                                                                    : questionMark - 1),
            false, path) ||
        (questionMark != std::string_view::npos &&
         !ParseUrlEncoded(target.substr(questionMark + 1), query))) {
        return Refusal{http::status::bad_request, "invalid percent-encoding"};
    }
    if (path.size() > maxPathLength) {
        return Refusal{http::status::uri_too_long, "request path too long"};
    }
    std::optional<std::string> bodyNotAFormType;
    if (isPost) {
        if (auto refusal = ParseForm(request, form, bodyNotAFormType)) return *refusal;
    }
    WebRequest webRequest(std::move(path), std::move(query), std::move(form));
    webRequest.SetClientAddress(ClientAddressText(client));
    if (bodyNotAFormType) webRequest.MarkBodyNotAForm(std::move(*bodyNotAFormType));
    for (const auto& field : request) {
        webRequest.AddHeader(std::string(ToStd(field.name_string())),
                             std::string(ToStd(field.value())));
    }
    return webRequest;
}

}  // namespace tillvane
