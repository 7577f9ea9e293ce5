#include "platform/posix/in_process_dispatcher.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/posix/systemd_notify.h"

namespace tillvane::platform {

namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

}  // namespace

InProcessDispatcher::InProcessDispatcher()
    : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), wakeFdError_(wakeFd_.valid() ? 0 : errno) {}

InProcessDispatcher::~InProcessDispatcher() = default;

bool InProcessDispatcher::Run(const char* serviceName, ServiceMainFunction serviceMain) {
    if (!wakeFd_.valid()) {
        errno = wakeFdError_;
        return false;
    }
    const sigset_t stopSignals = StopSignals();
    if (const int error = pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr); error != 0) {
        errno = error;
        return false;
    }
    UniqueFd signalFd(signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signalFd.valid()) return false;
    {
        std::lock_guard lock(mutex_);
        serviceName_ = serviceName;
        serviceMainReturned_ = false;
        stopped_ = false;
    }
    std::thread serviceMainThread;
    try {
        serviceMainThread = std::thread([this, serviceMain] { RunServiceMain(serviceMain); });
    } catch (const std::system_error& error) {
        errno = error.code().value();
        return false;
    }
    DispatchUntilStopped(signalFd.get());
    serviceMainThread.join();
    return true;
}

ServiceStatusSink* InProcessDispatcher::RegisterControlHandler(const char* serviceName,
                                                               ServiceControlHandler handler,
                                                               std::uint32_t& errorCode) {
    std::lock_guard lock(mutex_);
    if (serviceName == nullptr || serviceName_ != serviceName) {
        errorCode = kErrorServiceNotInExe;
        return nullptr;
    }
    handler_ = handler;
    return &recorder_;
}

void InProcessDispatcher::PostControl(std::uint32_t control) {
    {
        std::lock_guard lock(mutex_);
        controls_.push_back(control);
    }
    Wake();
}

std::vector<ServiceStatusRecord> InProcessDispatcher::statusHistory() const {
    std::lock_guard lock(mutex_);
    return history_;
}

void InProcessDispatcher::StatusRecorder::SetServiceStatus(const ServiceStatusRecord& status) {
    {
        std::lock_guard lock(owner_.mutex_);
        owner_.history_.push_back(status);
        owner_.stopped_ = status.currentState == kServiceStopped;
    }
    NotifySystemd(SystemdNotifyText(status));
    owner_.Wake();
}

void InProcessDispatcher::RunServiceMain(ServiceMainFunction serviceMain) {
    std::string name;
    {
        std::lock_guard lock(mutex_);
        name = serviceName_;
    }
    // The dispatcher passes the service name as the only argument, as the system's does.
    char* argv[] = {name.data(), nullptr};
    serviceMain(1, argv);
    {
        std::lock_guard lock(mutex_);
        serviceMainReturned_ = true;
    }
    Wake();
}

void InProcessDispatcher::DispatchUntilStopped(int signalFd) {
    pollfd watched[2] = {{signalFd, POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}};
    for (;;) {
        ServiceControlHandler handler = nullptr;
        std::uint32_t control = 0;
        {
            std::lock_guard lock(mutex_);
            // A control waits until the service main function has returned, so the start is
            // reported in full before a stop begins.
            if (serviceMainReturned_) {
                // Without a control handler nothing could ever stop the service.
                if (stopped_ || handler_ == nullptr) return;
                if (!controls_.empty()) {
                    handler = handler_;
                    control = controls_.front();
                    controls_.pop_front();
                }
            }
        }
        if (handler != nullptr) {
            handler(control);
            continue;
        }
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((watched[0].revents & POLLIN) != 0) TakeSignals(signalFd);
        if ((watched[1].revents & POLLIN) != 0) {
            eventfd_t ignored = 0;
            eventfd_read(wakeFd_.get(), &ignored);
        }
    }
}

void InProcessDispatcher::TakeSignals(int signalFd) {
    signalfd_siginfo info{};
    while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
            std::lock_guard lock(mutex_);
            controls_.push_back(kServiceControlStop);
        }
    }
}

void InProcessDispatcher::Wake() {
    eventfd_write(wakeFd_.get(), 1);
}

std::unique_ptr<ServiceDispatcher> CreateServiceDispatcher() {
    return std::make_unique<InProcessDispatcher>();
}

}  // namespace tillvane::platform
