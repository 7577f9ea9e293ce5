// The Windows service control dispatcher. The system calls the service main function and the
// control handler through plain function pointers without a context, so the one service of
// the process is remembered here.

#include <atomic>
#include <string>

#include "platform/service_control.h"
#include "platform/win32/windows_api.h"

namespace tillvane::platform {

namespace {

// Status reports of the one registered service.
class ScmStatusSink final : public ServiceStatusSink {
  public:
    void Attach(SERVICE_STATUS_HANDLE handle) { handle_.store(handle); }

    void SetServiceStatus(const ServiceStatusRecord& status) override {
        SERVICE_STATUS record{};
        record.dwServiceType = status.serviceType;
        record.dwCurrentState = status.currentState;
        record.dwControlsAccepted = status.controlsAccepted;
        record.dwWin32ExitCode = status.win32ExitCode;
        record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
        record.dwCheckPoint = status.checkPoint;
        record.dwWaitHint = status.waitHint;
        ::SetServiceStatus(handle_.load(), &record);  // a failed report changes nothing here
    }

  private:
    std::atomic<SERVICE_STATUS_HANDLE> handle_{nullptr};
};

std::atomic<ServiceMainFunction> registeredServiceMain{nullptr};
std::atomic<ServiceControlHandler> registeredHandler{nullptr};

void WINAPI ServiceMainTrampoline(DWORD argc, LPSTR* argv) {
    if (const ServiceMainFunction serviceMain = registeredServiceMain.load()) {
        serviceMain(argc, argv);
    }
}

void WINAPI ControlHandlerTrampoline(DWORD control) {
    if (const ServiceControlHandler handler = registeredHandler.load()) handler(control);
}

class ScmDispatcher final : public ServiceDispatcher {
  public:
    bool Run(const char* serviceName, ServiceMainFunction serviceMain) override {
        registeredServiceMain.store(serviceMain);
        std::string name = serviceName;
        SERVICE_TABLE_ENTRYA table[] = {{name.data(), ServiceMainTrampoline}, {nullptr, nullptr}};
        return ::StartServiceCtrlDispatcherA(table) != FALSE;
    }

    ServiceStatusSink* RegisterControlHandler(const char* serviceName,
                                              ServiceControlHandler handler,
                                              std::uint32_t& errorCode) override {
        registeredHandler.store(handler);
        const SERVICE_STATUS_HANDLE handle =
            ::RegisterServiceCtrlHandlerA(serviceName, ControlHandlerTrampoline);
        if (handle == nullptr) {
            errorCode = static_cast<std::uint32_t>(::GetLastError());
            return nullptr;
        }
        sink_.Attach(handle);
        return &sink_;
    }

  private:
    ScmStatusSink sink_;
};

}  // namespace

std::unique_ptr<ServiceDispatcher> CreateServiceDispatcher() {
    return std::make_unique<ScmDispatcher>();
}

}  // namespace tillvane::platform
