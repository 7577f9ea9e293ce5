#pragma once
// The one thread that touches the driver. Requests wait in a bounded queue and run one at a
// time, in the order they came, so the web server's loop never waits for the printer.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/error.h"

namespace tillvane {

// Requests that may wait for the driver besides the one it runs; one more is refused. Requests
// that wait for an earlier one with the same request id count among them (HoldPlace).
inline constexpr std::size_t kMaxWaitingDriverRequests = 16;

struct DriverJob {
    // On the driver thread, when the job's turn comes. It answers its own request, failures
    // included, and throws nothing: the driver thread has no one to hand an exception to.
    std::function<void()> run;
    std::function<void()> refuse;  // instead of run, when a stop came before its turn
};

class DriverQueue {
  public:
    explicit DriverQueue(std::size_t maxWaiting = kMaxWaitingDriverRequests);
    // Stops the queue and waits for the driver thread to end.
    ~DriverQueue();
    DriverQueue(const DriverQueue&) = delete;
    DriverQueue& operator=(const DriverQueue&) = delete;

    // Creates the driver thread; why not, when the system cannot or it runs already.
    platform::Error Start();
    // Queues `job`; false, and nothing queued, when the queue is full or stopped.
    bool Submit(DriverJob job);
    // Takes a waiting place for a request that waits without a job of its own (for the run of
    // an earlier request with its id), so that such requests cannot outnumber the queue: the
    // place is held until the returned handle goes. Null when every place is taken or the
    // queue is stopped. The handle may outlive the queue.
    std::shared_ptr<void> HoldPlace();
    // Takes no more jobs and refuses the waiting ones (on the calling thread); the job that
    // runs finishes, then the thread ends. Safe from any thread, more than once.
    void Stop();
    // True once Stop was called.
    bool stopped();
    // Requests waiting for their turn (held places too), the one that runs not counted.
    std::size_t waiting();
    // Waits for the driver thread to end.
    void Join();

  private:
    void Loop();

    const std::size_t maxWaiting_;
    // Full: the jobs and the held places fill every waiting place. With mutex_ held.
    bool full() const;

    std::mutex mutex_;  // guards jobs_ and stopped_
    std::condition_variable jobArrived_;
    std::deque<DriverJob> jobs_;
    // Places held through HoldPlace; shared with the handles, which may outlive the queue.
    std::shared_ptr<std::atomic<std::size_t>> heldPlaces_ =
        std::make_shared<std::atomic<std::size_t>>(0);
    bool stopped_ = false;
    std::thread thread_;
};

}  // namespace tillvane
