#pragma once
// The service dispatcher on Linux. systemd starts the program itself, so the dispatcher runs
// in-process: the service main function runs on a thread of its own, SIGTERM and SIGINT
// arrive as the stop control on the thread that called Run, and Run returns once the service
// has reported itself stopped. Every status report is kept, in order, and goes to systemd
// when the program runs under it.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "platform/service_control.h"

namespace tillvane::platform {

class InProcessDispatcher final : public ServiceDispatcher {
  public:
    InProcessDispatcher();
    ~InProcessDispatcher() override;

    // Blocks SIGTERM and SIGINT in the calling thread and takes them from a signalfd: call it
    // before the process starts other threads, so that they inherit the mask and no signal
    // handler ever runs. The signals stay blocked after Run, so a second Ctrl-C during the
    // stop cannot kill the process half-way.
    bool Run(const char* serviceName, ServiceMainFunction serviceMain) override;

    ServiceStatusSink* RegisterControlHandler(const char* serviceName,
                                              ServiceControlHandler handler,
                                              std::uint32_t& errorCode) override;

    // Hands `control` to the control handler as if the system had sent it; any thread. Like
    // the signals, controls wait until the service main function has returned.
    void PostControl(std::uint32_t control);

    // Every status report so far, in order.
    std::vector<ServiceStatusRecord> statusHistory() const;

  private:
    class StatusRecorder final : public ServiceStatusSink {
      public:
        explicit StatusRecorder(InProcessDispatcher& owner) : owner_(owner) {}
        void SetServiceStatus(const ServiceStatusRecord& status) override;

      private:
        InProcessDispatcher& owner_;
    };

    void RunServiceMain(ServiceMainFunction serviceMain);
    void DispatchUntilStopped(int signalFd);
    void TakeSignals(int signalFd);
    void Wake();

    mutable std::mutex mutex_;
    std::string serviceName_;
    ServiceControlHandler handler_ = nullptr;
    std::deque<std::uint32_t> controls_;
    std::vector<ServiceStatusRecord> history_;
    bool serviceMainReturned_ = false;
    bool stopped_ = false;

    UniqueFd wakeFd_;
    int wakeFdError_ = 0;
    StatusRecorder recorder_{*this};
};

}  // namespace tillvane::platform
