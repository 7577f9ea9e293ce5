#pragma once
// A small blocking HTTP/1.1 client for tests: every call gives up after a time-out, so a
// server that hangs fails the test instead of blocking it.

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace tillvane::testing {

// How long one call waits for the connection, the sending and the whole response.
inline constexpr std::chrono::milliseconds kHttpClientTimeout{10000};

struct HttpResponse {
    int status = 0;  // 0 when no complete response arrived; `error` tells why
    std::string body;
    std::map<std::string, std::string> headers;  // field names in lower case
    std::string error;

    // Value of the header field `name` (any letter case); empty when absent.
    std::string Header(std::string_view name) const;
};

// One connection that may carry several requests (keep-alive).
class HttpConnection {
  public:
    explicit HttpConnection(int port, std::chrono::milliseconds timeout = kHttpClientTimeout);
    // Connects to `host` (an IPv4 or IPv6 address) instead of 127.0.0.1.
    HttpConnection(const std::string& host, int port,
                   std::chrono::milliseconds timeout = kHttpClientTimeout);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    bool connected() const;
    // Sends `bytes` as they are.
    bool Send(std::string_view bytes);
    // Reads one response (Content-Length, chunked, or up to the end of the connection).
    HttpResponse ReadResponse();
    // Sends a request and reads its response. `target` is sent as given, e.g. "/REGCMD?CMD=XR".
    HttpResponse Get(const std::string& target);
    HttpResponse PostForm(const std::string& target, const std::string& body,
                          const std::string& contentType = "application/x-www-form-urlencoded");
    // True when the server closes the connection (or resets it) within the time-out.
    bool WaitForClose();
    void Close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One request on a connection of its own ("Connection: close").
HttpResponse Get(int port, const std::string& target);
HttpResponse PostForm(int port, const std::string& target, const std::string& body,
                      const std::string& contentType = "application/x-www-form-urlencoded");
// Sends `bytes` as they are (malformed requests) and reads one response, if any comes.
HttpResponse SendRaw(int port, std::string_view bytes);

// `text` percent-encoded for a query string or a urlencoded form: only letters, digits and
// "-_.~" stay as they are.
std::string UrlEncode(std::string_view text);

}  // namespace tillvane::testing
