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

Error WorkQueue::Queue(std::function<void()> work) {
    std::lock_guard lock(threads_->mutex);
    try {
        threads_->running.emplace_back(std::move(work));
    } catch (const std::system_error& error) {
        return SystemError(error.code().value());
    }
    return {};
}

}  // namespace tillvane::platform
