#pragma once
// One connection of the server, internal to it.

#include <array>
#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "http/admission_policy.h"
#include "http/beast.h"
#include "http/request_reading.h"
#include "http/web_request.h"

namespace tillvane {

struct WebServerState;

// One connection: reads requests one after the other, answers each (at once or once its
// deferred answer comes), and closes on error, on time-out, or when either side does not keep
// the connection alive.
class Session : public std::enable_shared_from_this<Session> {
  public:
    enum class Phase { reading, handling, awaitingReply, writing, lingering, closed };

    Session(TcpSocket socket, asio::ip::address address, std::shared_ptr<WebServerState> state);

    ~Session();

    void Start();

    void Close();

    Phase phase() const { return phase_; }
    // A connection that has sent no complete request it waits an answer for.
    bool mayGiveWay() const { return phase_ == Phase::reading || phase_ == Phase::lingering; }
    // What the admission policy weighs of an open connection.
    ConnectionState Describe() const;

  private:
    // Bytes read from the socket at a time; unfinished requests grow by at most this much
    // before the memory bound is checked again.
    static constexpr std::size_t kReadChunkBytes = 16 * 1024;
    // While a deferred answer is awaited the connection is read to notice a client that goes
    // away; bytes of a next request are kept, up to this many.
    static constexpr std::size_t kMaxBytesReadAhead = 64 * 1024;
    static constexpr std::size_t kDrainChunkBytes = 16 * 1024;
    static constexpr unsigned kHttp11 = 11;

    void ReadRequest();

    // Feeds the buffered bytes to the parser and reads more until the request is complete.
    void Parse();

    void ReadMore();

    void OnRead(const ErrorCode& error, std::size_t bytes);

    void SendContinue();

    // Updates what this unfinished request holds in the server's tally. False when it alone
    // exceeds the memory bound.
    bool AccountPendingBytes();

    void ReleasePendingBytes();

    void OnReadError(const ErrorCode& error);

    void Respond();

    struct Outcome {
        http::status status = http::status::ok;
        std::string body;
        HeaderFields headers;
        std::shared_ptr<PendingReply> deferred;
    };

    Outcome Handle(const BeastRequest& request);

    // The answer comes through the pump: from whatever thread it is sent, it is written on
    // the pump's thread, and not at all when the connection has gone by then. Whoever holds
    // the reply must send it (or drop it) before the pump is destroyed.
    std::shared_ptr<PendingReply> MakePendingReply();

    // Waits for the deferred answer without a deadline (the handler bounds the wait), reading
    // meanwhile so that a client that goes away is noticed and its request can be dropped.
    void AwaitReply(Outcome outcome);

    void WatchClient();

    void OnWatch(const ErrorCode& error, std::size_t bytes);

    void OnDeferredReply(int status, std::string body);

    void SendDeferredAnswer();

    void FinishOutstanding();

    void Send(http::status status, std::string body, bool keepAlive,
              const HeaderFields& headers = {});

    // Refuses what could not be read as a request and closes the connection afterwards.
    void Refuse(http::status status, std::string_view text);

    // Closes our side for sending, then drops what the client still sends until it closes
    // too or the linger time has passed.
    void Linger();

    void Drain();

    struct Answer {
        int status;
        std::string body;
    };

    TcpStream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
    std::array<char, kDrainChunkBytes> drain_{};
    std::shared_ptr<WebServerState> state_;
    asio::ip::address address_;
    std::string addressText_;  // as the admission policy counts it
    std::string clientText_;   // as a handler sees it: an IPv4-mapped address as IPv4
    std::list<std::weak_ptr<Session>>::iterator entry_;
    bool registered_ = false;
    Phase phase_ = Phase::reading;
    std::chrono::steady_clock::time_point readingSince_;
    std::size_t pendingBytes_ = 0;
    bool continueSent_ = false;
    unsigned version_ = kHttp11;
    bool keepAlive_ = false;
    std::shared_ptr<PendingReply> pendingReply_;
    HeaderFields replyHeaders_;
    std::optional<Answer> answer_;
    bool watching_ = false;
    bool countsAsOutstanding_ = false;
    std::shared_ptr<Session> heldForAnswer_;
};

}  // namespace tillvane
