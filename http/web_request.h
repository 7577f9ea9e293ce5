#pragma once
// One HTTP request as a handler sees it: its path, its parameters and header fields, what its
// body was when it was not a form, and the response (status, header fields and body) the
// handler writes, at once or later through a PendingReply.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text_split.h"
#include "http/form_fields.h"

namespace tillvane {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// The status of an answer whose handler set none.
inline constexpr int kDefaultAnswerStatus = 200;

class ReplyChannel;

// The answer to a request that its handler could not give at once. Send may be called from
// any thread; the server writes the answer on its own thread, and only when the connection
// still waits for this request's answer. Only the first Send counts.
class PendingReply {
  public:
    PendingReply(std::shared_ptr<ReplyChannel> channel, std::uint64_t request)
        : channel_(std::move(channel)), request_(request) {}

    void Send(int status, std::string body);
    // True once the client has closed its connection while it waited for this answer: nobody
    // waits for it any more.
    bool clientGone() const;

  private:
    std::shared_ptr<ReplyChannel> channel_;
    std::uint64_t request_;
    std::atomic<bool> sent_{false};
};

class WebRequest {
  public:
    WebRequest() = default;
    WebRequest(std::string path, FormFields query, FormFields form)
        : path_(std::move(path)), query_(std::move(query)), form_(std::move(form)) {}

    // The client's address as text ("127.0.0.1", "::1"); empty when unknown.
    const std::string& clientAddress() const { return clientAddress_; }
    void SetClientAddress(std::string address) { clientAddress_ = std::move(address); }

    // The decoded path without its leading "/"; the root gives the empty text.
    const std::string& path() const { return path_; }
    // Decoded value of the query parameter `name`; empty when absent.
    std::string GET(std::string_view name) const { return query_.Value(name); }
    // Decoded value of the form field `name` of a POST body; empty when absent.
    std::string POST(std::string_view name) const { return form_.Value(name); }

    // All fields of the query string, and of a POST's form.
    const FormFields& query() const { return query_; }
    const FormFields& form() const { return form_; }

    // True when the query string (or, for POST, the form) named `name`, even empty.
    bool HasGET(std::string_view name) const { return query_.Has(name); }
    bool HasPOST(std::string_view name) const { return form_.Has(name); }

    // The value of the first header field called `name` (any letter case), and whether the
    // request had one.
    bool HasHeader(std::string_view name) const { return FindHeader(name) != nullptr; }
    std::string Header(std::string_view name) const {
        const std::string* value = FindHeader(name);
        return value != nullptr ? *value : std::string();
    }
    // The value of the first header field called `name` (any letter case); null when none.
    const std::string* FindHeader(std::string_view name) const {
        for (const auto& field : requestHeaders_) {
            if (EqualsIgnoringCase(field.first, name)) return &field.second;
        }
        return nullptr;
    }
    void AddHeader(std::string name, std::string value) {
        requestHeaders_.emplace_back(std::move(name), std::move(value));
    }

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
    std::string TakeResponseBody() { return std::move(responseBody_); }

    // A header field the response carries besides the server's own.
    void SetResponseHeader(std::string name, std::string value) {
        responseHeaders_.emplace_back(std::move(name), std::move(value));
    }
    HeaderFields TakeResponseHeaders() { return std::move(responseHeaders_); }

    // Lets the handler answer later: the server sends nothing for this request until the
    // returned reply is sent. Null when the server cannot wait (it gave no channel to answer
    // through).
    std::shared_ptr<PendingReply> Defer();
    bool deferred() const { return deferred_; }
    // The connection's way to answer later, which the server gives every request it reads.
    void SetReplyChannel(ReplyChannel* channel) { replyChannel_ = channel; }

  private:
    std::string path_;
    std::string clientAddress_;
    FormFields query_;
    FormFields form_;
    HeaderFields requestHeaders_;
    bool bodyIsNotAForm_ = false;
    std::string bodyMediaType_;
    int status_ = kDefaultAnswerStatus;
    std::string responseBody_;
    HeaderFields responseHeaders_;
    ReplyChannel* replyChannel_ = nullptr;
    bool deferred_ = false;
};

}  // namespace tillvane
