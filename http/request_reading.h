#pragma once
// Turns a request as Beast received it into what a handler sees: the decoded path, the query
// and form fields, the header fields and the client's address; or the refusal the client gets
// when the request cannot be read that way. Internal to the server.

#include <cstddef>
#include <string_view>
#include <variant>

#include "http/beast.h"
#include "http/web_request.h"

namespace tillvane {

using BeastRequest = http::request<http::string_body>;

// An HTTP error answered instead of calling a handler.
struct Refusal {
    http::status status;
    std::string_view text;
};

// Only GET, POST and OPTIONS are read; a POST's urlencoded or multipart body becomes its form
// fields.
std::variant<WebRequest, Refusal> ReadWebRequest(const BeastRequest& request,
                                                 const asio::ip::address& client,
                                                 std::size_t maxPathLength);

}  // namespace tillvane
