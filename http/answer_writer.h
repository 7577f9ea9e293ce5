#pragma once
// Writes the responses of one connection. Internal to the server.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "http/beast.h"
#include "http/web_request.h"

namespace tillvane {

class Session;

// Writes each response of a connection on the pump's thread; after a keep-alive answer the
// connection reads its next request, after any other it lingers and closes.
class AnswerWriter {
  public:
    explicit AnswerWriter(Session& session) : session_(session) {}

    // `owed`: a deferred answer, which a shutdown waits for until it is written.
    void Send(http::status status, std::string body, bool keepAlive,
              const HeaderFields& headers = {}, bool owed = false);

    // Refuses what could not be read as a request and closes the connection afterwards.
    void Refuse(http::status status, std::string_view text);

    // The connection closes: an owed answer will not be written.
    void OnClosed() { SettleOwed(); }

  private:
    static constexpr std::size_t kDrainChunkBytes = 16 * 1024;

    void SettleOwed();

    // Closes our side for sending, then drops what the client still sends until it closes
    // too or the linger time has passed.
    void Linger();

    void Drain();

    Session& session_;
    http::response<http::string_body> response_;
    std::array<char, kDrainChunkBytes> drain_{};
    bool owed_ = false;
};

}  // namespace tillvane
