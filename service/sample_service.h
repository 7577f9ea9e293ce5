#pragma once
// The program's one service. Its start hook hands WorkerLoop to a work-queue thread and
// waits until the front end's server listens or cannot: a service that cannot serve fails its
// start with the cause's service-specific code. WorkerLoop brings the front end up, idles
// until a stop is requested and shuts the front end down in a fixed order. The stop hook
// raises the stop flag and waits until the worker says it is done.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/work_queue.h"
#include "service/front_end.h"
#include "service/manual_reset_event.h"
#include "service/service_base.h"
#include "service/service_instance.h"

namespace tillvane {

// How often the idle worker looks at the stop flag at the latest.
inline constexpr std::chrono::milliseconds kIdlePollInterval{1000};
// How long a stop waits for the web server thread to end.
inline constexpr std::chrono::milliseconds kServerStopTimeout{10000};
// What a stop reports it may take: the wait for the server thread, and the rest of the
// shut-down besides.
inline constexpr std::chrono::milliseconds kStopWaitMargin{5000};

class CSampleService : public CServiceBase {
  public:
    // The program's service for `instance` (which must outlive it): the system's dispatcher
    // and event log, the real front end, the instance's files.
    explicit CSampleService(const ServiceInstance& instance);
    CSampleService(const char* serviceName, ServiceEnvironment environment,
                   FrontEndFactory frontEndFactory,
                   std::chrono::milliseconds serverStopTimeout = kServerStopTimeout);
    // Stops a worker that no stop control reached (after a shutdown control, say) and waits
    // for it, so nothing it uses goes away under it.
    ~CSampleService() override;

    // True when a stop had to leave the web server thread running past kServerStopTimeout.
    // Its objects were kept alive for it; the process should then end without running the
    // destructors of anything that thread may still touch.
    bool frontEndAbandoned() const { return frontEndAbandoned_; }
    // The front end a stop abandoned, for the owner to keep until the process ends without
    // destroying it; null when none was. Only once the service has stopped.
    std::unique_ptr<FrontEnd> TakeAbandonedFrontEnd() {
        return std::move(abandonedFrontEnd_.frontEnd);
    }

  protected:
    void OnStart(std::uint32_t argc, char** argv) override;
    void OnStop() override;

  private:
    void WorkerLoop() noexcept;
    // Lets the start hook go on with `outcome`; the first report counts.
    void ReportStarted(ServerStart outcome) noexcept;
    // Ends the server thread, signals workerDoneEvent_, releases the driver.
    void ShutDown(std::unique_ptr<FrontEnd> frontEnd) noexcept;
    void LogWorkerFailure(std::exception_ptr failure) noexcept;

    ManualResetEvent stopRequested_;
    ManualResetEvent workerDoneEvent_;
    // Set once startOutcome_ holds how the front end's start went.
    ManualResetEvent startedEvent_;
    std::atomic<bool> startReported_{false};
    ServerStart startOutcome_;
    // A front end whose server thread may still use it is never destroyed: when its owner has
    // not taken it, it is left to the end of the process. Written by the worker before
    // workerDoneEvent_; destroyed after the worker is gone.
    struct KeptFrontEnd {
        std::unique_ptr<FrontEnd> frontEnd;
        ~KeptFrontEnd() { static_cast<void>(frontEnd.release()); }
    };
    KeptFrontEnd abandonedFrontEnd_;
    std::atomic<bool> frontEndAbandoned_{false};
    FrontEndFactory frontEndFactory_;
    // Whose files the worker hands on: empty for the default instance.
    std::string instanceName_;
    std::chrono::milliseconds serverStopTimeout_;
    // Last, so it is destroyed first: the worker it waits for uses the members above.
    platform::WorkQueue workQueue_;
};

}  // namespace tillvane
