#pragma once
// Turns a request as Beast received it into what a handler sees: the decoded path, the query
// and form fields, the header fields and the client's address; or the refusal the client gets
// when the request cannot be read that way. Internal to the server.

#include <cstddef>
#include <string_view>

#include "http/beast.h"
#include "http/http_refusal.h"
#include "http/web_request.h"

namespace tillvane {

using BeastRequest = http::request<http::string_body>;

// A request as read: the request a handler sees, or the refusal answered instead of calling
// one.
struct RequestRead {
    WebRequest request;
    HttpRefusal refusal;
};

// Only GET, POST and OPTIONS are read; a POST's urlencoded or multipart body becomes its form
// fields. `client` is the client's address as text.
RequestRead ReadWebRequest(const BeastRequest& request, std::string_view client,
                           std::size_t maxPathLength);

}  // namespace tillvane
