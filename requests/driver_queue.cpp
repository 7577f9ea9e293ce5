#include "requests/driver_queue.h"

#include <system_error>
#include <utility>

namespace tillvane {

DriverQueue::DriverQueue(std::size_t maxWaiting) : maxWaiting_(maxWaiting) {}

DriverQueue::~DriverQueue() {
    Stop();
    Join();
}

platform::Error DriverQueue::Start() {
    if (thread_.joinable()) return platform::Error::Message("the driver thread runs already");
    try {
        thread_ = std::thread(&DriverQueue::Loop, this);
    } catch (const std::system_error& error) {
        return platform::Error(error.code().value(), error.what());
    }
    return {};
}

bool DriverQueue::Submit(DriverJob job) {
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || !thread_.joinable() || full()) return false;
        jobs_.push_back(std::move(job));
    }
    jobArrived_.notify_one();
    return true;
}

std::shared_ptr<void> DriverQueue::HoldPlace() {
    std::lock_guard lock(mutex_);
    if (stopped_ || full()) return nullptr;
    ++*heldPlaces_;
    return {heldPlaces_.get(), [held = heldPlaces_](void*) { --*held; }};
}

bool DriverQueue::full() const {
    return jobs_.size() + heldPlaces_->load() >= maxWaiting_;
}

void DriverQueue::Stop() {
    std::deque<DriverJob> waiting;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        waiting.swap(jobs_);
    }
    jobArrived_.notify_one();
    for (DriverJob& job : waiting) {
        if (job.refuse) job.refuse();
    }
}

std::size_t DriverQueue::waiting() {
    std::lock_guard lock(mutex_);
    return jobs_.size() + heldPlaces_->load();
}

bool DriverQueue::stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
}

void DriverQueue::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void DriverQueue::Loop() {
    for (;;) {
        DriverJob job;
        {
            std::unique_lock lock(mutex_);
            jobArrived_.wait(lock, [this] { return stopped_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // stopped
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job.run();
    }
}

}  // namespace tillvane
