#pragma once
// One connection of the server, internal to it.

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "http/admission_policy.h"
#include "http/answer_awaiter.h"
#include "http/answer_writer.h"
#include "http/beast.h"
#include "http/reply_channel.h"
#include "http/request_reading.h"
#include "http/web_request.h"

namespace tillvane {

struct WebServerState;

// One connection: reads its requests one after the other and hands each to its handler; the
// answer goes out through the writer, at once or once the awaiter has it. Closes on error, on
// time-out, or when either side does not keep the connection alive.
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

    // Bytes read from the socket at a time; unfinished requests grow by at most this much
    // before the memory bound is checked again.
    static constexpr std::size_t kReadChunkBytes = 16 * 1024;
    static constexpr unsigned kHttp11 = 11;

  private:
    // The answer side of the connection shares its socket, buffer and phase.
    friend class AnswerAwaiter;
    friend class AnswerWriter;

    // The connection closes once `timeout` has passed, unless the deadline is set again
    // first. Runs several times per request, so it only moves the deadline: the timer, armed
    // once, follows it when it fires (a per-operation timer cost a fair share of each request).
    void ExpireAfter(std::chrono::steady_clock::duration timeout);
    void ExpireNever() { deadline_ = std::chrono::steady_clock::time_point::max(); }

    void WaitForDeadline();

    void OnDeadline();

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
        bool deferred = false;
    };

    Outcome Handle(const BeastRequest& request);

    // Refuses what could not be read as a request.
    void Refuse(http::status status, std::string_view text);

    TcpSocket socket_;
    PumpTimer deadlineTimer_;  // fires at or before deadline_
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
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
    std::shared_ptr<ReplyChannel> replyChannel_;  // made once the session is shared
    AnswerAwaiter awaiter_{*this};
    AnswerWriter writer_{*this};
};

}  // namespace tillvane
