#pragma once
// Long-running work items on threads the system provides (QueueUserWorkItem with
// WT_EXECUTELONGFUNCTION on Windows, a thread of its own on Linux).

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/error.h"

namespace tillvane::platform {

class WorkQueue {
  public:
    WorkQueue();
    // Waits until every queued item has returned, so nothing it uses goes away under it.
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Starts `work` and returns at once. Fails, with the system's reason, when the item could
    // not be queued; `work` is then dropped without running.
    Error Queue(std::function<void()> work);

  private:
    struct Threads;
    std::unique_ptr<Threads> threads_;
};

}  // namespace tillvane::platform
