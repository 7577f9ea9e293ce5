#pragma once
// An event that stays set once set: every waiter, now or later, goes on.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tillvane {

class ManualResetEvent {
  public:
    void Set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return set_; });
    }
    // True when the event is set, at once or within `timeout`.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return set_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

}  // namespace tillvane
