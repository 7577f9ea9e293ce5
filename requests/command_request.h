#pragma once
// One request to run a command text, as the request pipeline reads it whatever carried it:
// its named fields, who sent it, and the refusal it already met on the way in; and the answer
// it is owed, sent once from whatever thread ends it.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tillvane {

struct CommandRequest {
    // The value of the field `name`; nothing when the request did not name it.
    using FieldLookup = std::function<std::optional<std::string>(std::string_view name)>;

    // The fields of the request's address, and for a POST those of its form.
    FieldLookup queryField;
    FieldLookup formField;
    bool isPost = false;
    // The client's address as text ("127.0.0.1"); empty when unknown.
    std::string client;
    // Set when the request is refused before its text is read (a cross-site page, a body
    // that is no form): the status and the reply text.
    int refusalStatus = 0;
    std::string refusal;
    // The request id a header gave besides the fields (Idempotency-Key); nothing when none.
    std::optional<std::string> idempotencyKey;
    // The till whose token the request presented; empty when no tokens are set.
    std::string till;

    std::optional<std::string> Query(std::string_view name) const {
        return queryField ? queryField(name) : std::nullopt;
    }
    std::optional<std::string> Form(std::string_view name) const {
        return isPost && formField ? formField(name) : std::nullopt;
    }
};

// The answer a command request is owed. Only the first Send counts; it may come from any
// thread.
class CommandAnswer {
  public:
    using Send = std::function<void(int status, std::string body)>;
    using ClientGone = std::function<bool()>;

    CommandAnswer(Send send, ClientGone clientGone)
        : send_(std::move(send)), clientGone_(std::move(clientGone)) {}

    void Deliver(int status, std::string body) {
        if (sent_.exchange(true)) return;
        send_(status, std::move(body));
    }
    // True once nobody waits for the answer any more (the client went away).
    bool clientGone() const { return clientGone_ && clientGone_(); }

  private:
    Send send_;
    ClientGone clientGone_;
    std::atomic<bool> sent_{false};
};

// Where command requests go: the request pipeline, as the HTTP side sees it.
class CommandSink {
  public:
    virtual ~CommandSink() = default;

    // A request to run a command text; with its refusal set, refused before its text is read.
    // The answer goes out later, through `answer` (none: nobody can be answered).
    virtual void Accept(const CommandRequest& request, std::shared_ptr<CommandAnswer> answer) = 0;
    // A refusal on its way out: the reply text to send.
    virtual std::string Refuse(std::string reply) const = 0;
};

}  // namespace tillvane
