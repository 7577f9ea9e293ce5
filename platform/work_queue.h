#pragma once
// Long-running work items on threads the system provides (QueueUserWorkItem with
// WT_EXECUTELONGFUNCTION on Windows, a thread of its own on Linux).

#include <cstdint>
#include <functional>
#include <memory>

namespace tillvane::platform {

class WorkQueue {
  public:
    WorkQueue();
    // Waits until every queued item has returned, so nothing it uses goes away under it.
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Starts `work` and returns at once. False, with the system's reason in `errorCode`, when
    // the item could not be queued; `work` is then dropped without running.
    bool Queue(std::function<void()> work, std::uint32_t& errorCode);

  private:
    struct Threads;
    std::unique_ptr<Threads> threads_;
};

}  // namespace tillvane::platform
