#include "requests/answer_delivery.h"

#include <algorithm>
#include <system_error>

#include "requests/command_request.h"
#include "requests/journal/request_journal.h"

namespace tillvane {

AnswerDelivery::~AnswerDelivery() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    if (sender_.joinable()) sender_.join();
}

platform::Error AnswerDelivery::Start() {
    try {
        sender_ = std::thread(&AnswerDelivery::SendLoop, this);
    } catch (const std::system_error& error) {
        return platform::Error(error.code().value(), error.what());
    }
    return {};
}

void AnswerDelivery::Deliver(std::optional<std::uint64_t> newestRecord,
                             std::vector<Delivery> deliveries) {
    {
        std::lock_guard lock(queueMutex_);
        if (sender_.joinable() && !stopping_) {
            queue_.emplace_back(newestRecord, std::move(deliveries));
            queued_.notify_one();
            return;
        }
    }
    // No journal to wait for: answer at once.
    for (Delivery& delivery : deliveries) {
        delivery.reply->Deliver(delivery.status, std::move(delivery.body));
    }
}

void AnswerDelivery::SendLoop() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::deque<std::pair<std::optional<std::uint64_t>, std::vector<Delivery>>> batch;
        batch.swap(queue_);
        lock.unlock();
        std::optional<std::uint64_t> newestRecord;
        for (const auto& item : batch) {
            if (item.first) newestRecord = std::max(newestRecord.value_or(0), *item.first);
        }
        // One flush for the whole batch; an answer whose record could not be written is
        // still sent: the till must learn what became of its receipt.
        if (newestRecord) (void)journal_.WaitDurable(*newestRecord);
        for (auto& item : batch) {
            for (Delivery& delivery : item.second) {
                delivery.reply->Deliver(delivery.status, std::move(delivery.body));
            }
        }
        lock.lock();
    }
}

}  // namespace tillvane
