#pragma once
// One HTTP request as a handler sees it: its path, its parameters, and the response body the
// handler writes.

#include <string>
#include <string_view>

#include "web/form_fields.h"

namespace tillvane {

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

    // Appends `body` to the response body, bytes as they are.
    void Write(std::string_view body) { responseBody_.append(body); }
    const std::string& responseBody() const { return responseBody_; }

  private:
    std::string path_;
    FormFields query_;
    FormFields form_;
    std::string responseBody_;
};

}  // namespace tillvane
