#include "platform/work_queue.h"

#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tillvane::platform {

struct WorkQueue::Threads {
    std::mutex mutex;
    std::vector<std::thread> running;
};

WorkQueue::WorkQueue() : threads_(std::make_unique<Threads>()) {}

WorkQueue::~WorkQueue() {
    std::vector<std::thread> toJoin;
    {
        std::lock_guard lock(threads_->mutex);
        toJoin.swap(threads_->running);
    }
    for (std::thread& thread : toJoin) thread.join();
}

bool WorkQueue::Queue(std::function<void()> work, std::uint32_t& errorCode) {
    std::lock_guard lock(threads_->mutex);
    try {
        threads_->running.emplace_back(std::move(work));
    } catch (const std::system_error& error) {
        errorCode = static_cast<std::uint32_t>(error.code().value());
        return false;
    }
    return true;
}

}  // namespace tillvane::platform
