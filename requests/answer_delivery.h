#pragma once
// The last stage of a request: its answer goes out once the journal holds the record of it,
// on a thread of its own, one flush for every answer that waits.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/error.h"

namespace tillvane {

class CommandAnswer;
class RequestJournal;

struct Delivery {
    std::shared_ptr<CommandAnswer> reply;
    int status = 0;
    std::string body;
};

class AnswerDelivery {
  public:
    explicit AnswerDelivery(RequestJournal& journal) : journal_(journal) {}
    // Sends the answers still owed, then ends the thread that sends them.
    ~AnswerDelivery();
    AnswerDelivery(const AnswerDelivery&) = delete;
    AnswerDelivery& operator=(const AnswerDelivery&) = delete;

    // Starts the thread that waits for the journal; why not, when the system cannot. Without
    // it answers go out at once: there is no journal to wait for.
    platform::Error Start();
    // Sends `deliveries` once the journal's `newestRecord` (and all before it) is on the disk;
    // at once when no record was written.
    void Deliver(std::optional<std::uint64_t> newestRecord, std::vector<Delivery> deliveries);

  private:
    void SendLoop();

    RequestJournal& journal_;
    std::mutex queueMutex_;  // guards queue_ and stopping_
    std::condition_variable queued_;
    // The deliveries that wait, each with the newest record it waits for.
    std::deque<std::pair<std::optional<std::uint64_t>, std::vector<Delivery>>> queue_;
    bool stopping_ = false;
    std::thread sender_;
};

}  // namespace tillvane
