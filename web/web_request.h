#pragma once
// One HTTP request as a handler sees it: its path, its parameters, what its body was when it
// was not a form, and the response (status and body) the handler writes.

#include <string>
#include <string_view>
#include <utility>

#include "web/form_fields.h"

namespace tillvane {

inline constexpr int kHttpOk = 200;

class WebRequest {
  public:
    WebRequest(std::string path, FormFields query, FormFields form)
        : path_(std::move(path)), query_(std::move(query)), form_(std::move(form)) {}

    // The decoded path without its leading "/"; the root gives the empty text.
    const std::string& path() const { return path_; }
    // Decoded value of the query parameter `name`; empty when absent.
    std::string GET(std::string_view name) const { return query_.Value(name); }
    // Decoded value of the form field `name` of a POST body; empty when absent.
    std::string POST(std::string_view name) const { return form_.Value(name); }

    // True for a POST with a body that is neither application/x-www-form-urlencoded nor
    // multipart/form-data: it carried no fields the server could read.
    bool bodyIsNotAForm() const { return bodyIsNotAForm_; }
    // The media type of such a body, in lower case without parameters ("text/plain"); empty
    // when the request named no Content-Type.
    const std::string& bodyMediaType() const { return bodyMediaType_; }
    void MarkBodyNotAForm(std::string mediaType) {
        bodyIsNotAForm_ = true;
        bodyMediaType_ = std::move(mediaType);
    }

    // The HTTP status of the response; 200 unless the handler sets another.
    void SetStatus(int status) { status_ = status; }
    int status() const { return status_; }

    // Appends `body` to the response body, bytes as they are.
    void Write(std::string_view body) { responseBody_.append(body); }
    const std::string& responseBody() const { return responseBody_; }

  private:
    std::string path_;
    FormFields query_;
    FormFields form_;
    bool bodyIsNotAForm_ = false;
    std::string bodyMediaType_;
    int status_ = kHttpOk;
    std::string responseBody_;
};

}  // namespace tillvane
