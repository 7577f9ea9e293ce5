#include "service/service_base.h"

#include <string>

#include "service/service_error.h"
#include "service/text_format.h"

namespace tillvane {

using namespace platform;

CServiceBase* CServiceBase::currentService_ = nullptr;

CServiceBase::CServiceBase(const char* serviceName, ServiceEnvironment environment, bool canStop,
                           bool canShutdown, bool canPauseContinue)
    : serviceName_(serviceName), environment_(std::move(environment)) {
    status_.serviceType = kServiceWin32OwnProcess;
    status_.currentState = kServiceStartPending;
    status_.controlsAccepted = (canStop ? kServiceAcceptStop : 0) |
                               (canShutdown ? kServiceAcceptShutdown : 0) |
                               (canPauseContinue ? kServiceAcceptPauseContinue : 0);
}

CServiceBase::~CServiceBase() {
    if (currentService_ == this) currentService_ = nullptr;
}

bool CServiceBase::Run(CServiceBase& service) {
    currentService_ = &service;
    return service.environment_.dispatcher->Run(service.serviceName_, &CServiceBase::ServiceMain);
}

platform::ServiceStatusRecord CServiceBase::status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

void CServiceBase::ServiceMain(std::uint32_t argc, char** argv) {
    CServiceBase* service = currentService_;
    std::uint32_t error = kNoError;
    ServiceStatusSink* handle = service->environment_.dispatcher->RegisterControlHandler(
        service->serviceName_, &CServiceBase::ControlHandler, error);
    if (handle == nullptr) {
        // Without a status handle nothing can be reported to the service manager: the event
        // log is the only trace.
        service->LogError("RegisterServiceCtrlHandler", error);
        return;
    }
    {
        std::lock_guard lock(service->statusMutex_);
        service->statusHandle_ = handle;
    }
    service->Start(argc, argv);
}

void CServiceBase::ControlHandler(std::uint32_t control) {
    CServiceBase* service = currentService_;
    if (service == nullptr) return;
    switch (control) {
        case kServiceControlStop:
            service->Stop();
            break;
        case kServiceControlPause:
            service->Pause();
            break;
        case kServiceControlContinue:
            service->Continue();
            break;
        case kServiceControlShutdown:
            service->Shutdown();
            break;
        case kServiceControlInterrogate:
        default:
            break;
    }
}

void CServiceBase::Start(std::uint32_t argc, char** argv) {
    try {
        SetStatus(kServiceStartPending);
        OnStart(argc, argv);
        SetStatus(kServiceRunning);
    } catch (const ServiceSpecificError& error) {
        LogEvent(error.reason(), kEventLogErrorType);
        SetStatus(kServiceStopped, error.code(), error.specificCode());
    } catch (const ServiceError& error) {
        LogError("Service Start", error.code());
        SetStatus(kServiceStopped, error.code());
    } catch (...) {
        LogEvent("Service failed to start.", kEventLogErrorType);
        SetStatus(kServiceStopped, kErrorExceptionInService);
    }
}

void CServiceBase::Stop() {
    const std::uint32_t originalState = status().currentState;
    try {
        SetStatus(kServiceStopPending);
        OnStop();
        SetStatus(kServiceStopped);
    } catch (const ServiceError& error) {
        LogError("Service Stop", error.code());
        SetStatus(originalState);
    } catch (...) {
        LogEvent("Service failed to stop.", kEventLogErrorType);
        SetStatus(originalState);
    }
}

void CServiceBase::Pause() {
    try {
        SetStatus(kServicePausePending);
        OnPause();
        SetStatus(kServicePaused);
    } catch (const ServiceError& error) {
        LogError("Service Pause", error.code());
        SetStatus(kServiceRunning);
    } catch (...) {
        LogEvent("Service failed to pause.", kEventLogErrorType);
        SetStatus(kServiceRunning);
    }
}

void CServiceBase::Continue() {
    try {
        SetStatus(kServiceContinuePending);
        OnContinue();
        SetStatus(kServiceRunning);
    } catch (const ServiceError& error) {
        LogError("Service Continue", error.code());
        SetStatus(kServicePaused);
    } catch (...) {
        LogEvent("Service failed to resume.", kEventLogErrorType);
        SetStatus(kServicePaused);
    }
}

void CServiceBase::Shutdown() {
    try {
        OnShutdown();
        SetStatus(kServiceStopped);
    } catch (const ServiceError& error) {
        LogError("Service Shutdown", error.code());
    } catch (...) {
        LogEvent("Service failed to shut down.", kEventLogErrorType);
    }
}

void CServiceBase::OnStart(std::uint32_t, char**) {}
void CServiceBase::OnStop() {}
void CServiceBase::OnPause() {}
void CServiceBase::OnContinue() {}
void CServiceBase::OnShutdown() {}

void CServiceBase::SetStatus(std::uint32_t state, std::uint32_t exitCode,
                             std::uint32_t specificExitCode) {
    std::lock_guard lock(statusMutex_);
    status_.currentState = state;
    status_.win32ExitCode = exitCode;
    status_.serviceSpecificExitCode = specificExitCode;
    status_.waitHint =
        state == kServiceStopPending ? static_cast<std::uint32_t>(stopWaitHint_.count()) : 0;
    status_.checkPoint =
        state == kServiceRunning || state == kServiceStopped ? 0 : checkPointCounter_++;
    if (statusHandle_ != nullptr) statusHandle_->SetServiceStatus(status_);
}

void CServiceBase::LogEvent(std::string_view message, std::uint16_t type) noexcept {
    try {
        EventLogEntry entry;
        entry.source = serviceName_;
        entry.type = type;
        entry.strings = {serviceName_, std::string(message)};
        environment_.eventLog->Report(entry);
    } catch (...) {
        // An entry that cannot be written is lost, as a failing event source would lose it.
    }
}

void CServiceBase::LogError(std::string_view operation, std::uint32_t errorCode) noexcept {
    try {
        std::string text =
            FormatText("%.*s failed w/err 0x%08lx", static_cast<int>(operation.size()),
                       operation.data(), static_cast<unsigned long>(errorCode));
        if (text.size() > kMaxErrorEntryLength) text.resize(kMaxErrorEntryLength);
        LogEvent(text, kEventLogErrorType);
    } catch (...) {
    }
}

}  // namespace tillvane
