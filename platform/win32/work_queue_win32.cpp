// Work items on the system thread pool, queued as long functions so that the pool may add a
// thread for them rather than hold up its short tasks.

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/win32/windows_api.h"
#include "platform/work_queue.h"

namespace tillvane::platform {

namespace {

// How many queued items have not returned yet.
struct RunningItems {
    std::mutex mutex;
    std::condition_variable allDone;
    int count = 0;
};

struct WorkItem {
    std::function<void()> work;
    RunningItems* running;
};

// The pool's callback: runs the item, frees it, and tells the queue it is done.
DWORD WINAPI RunWorkItem(LPVOID parameter) {
    RunningItems* running = nullptr;
    {
        const std::unique_ptr<WorkItem> item(static_cast<WorkItem*>(parameter));
        running = item->running;
        item->work();
    }
    std::lock_guard lock(running->mutex);
    if (--running->count == 0) running->allDone.notify_all();
    return 0;
}

}  // namespace

struct WorkQueue::Threads {
    RunningItems running;
};

WorkQueue::WorkQueue() : threads_(std::make_unique<Threads>()) {}

WorkQueue::~WorkQueue() {
    RunningItems& running = threads_->running;
    std::unique_lock lock(running.mutex);
    running.allDone.wait(lock, [&running] { return running.count == 0; });
}

Error WorkQueue::Queue(std::function<void()> work) {
    RunningItems& running = threads_->running;
    auto item = std::make_unique<WorkItem>(WorkItem{std::move(work), &running});
    {
        std::lock_guard lock(running.mutex);
        ++running.count;
    }
    if (!::QueueUserWorkItem(RunWorkItem, item.get(), WT_EXECUTELONGFUNCTION)) {
        const Error refused = LastSystemError();
        std::lock_guard lock(running.mutex);
        --running.count;
        return refused;
    }
    item.release();  // the callback owns it now
    return {};
}

}  // namespace tillvane::platform
