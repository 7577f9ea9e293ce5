#pragma once
// The link between the service shell and the system's service manager: the status record the
// manager is told about, the control codes it sends, and the dispatcher that runs the service.
// The values are the ones the Windows service manager uses, so the shell above is the same on
// every system.

#include <cstdint>
#include <memory>

namespace tillvane::platform {

// Service states (the record's currentState).
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceContinuePending = 5;
inline constexpr std::uint32_t kServicePausePending = 6;
inline constexpr std::uint32_t kServicePaused = 7;

// Control codes the manager sends.
inline constexpr std::uint32_t kServiceControlStop = 1;
inline constexpr std::uint32_t kServiceControlPause = 2;
inline constexpr std::uint32_t kServiceControlContinue = 3;
inline constexpr std::uint32_t kServiceControlInterrogate = 4;
inline constexpr std::uint32_t kServiceControlShutdown = 5;

// Controls a service accepts (the record's controlsAccepted).
inline constexpr std::uint32_t kServiceAcceptStop = 0x1;
inline constexpr std::uint32_t kServiceAcceptPauseContinue = 0x2;
inline constexpr std::uint32_t kServiceAcceptShutdown = 0x4;

// The service runs in a process of its own.
inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;

// Error codes the shell and the installer report.
inline constexpr std::uint32_t kNoError = 0;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;  // 0x424
inline constexpr std::uint32_t kErrorServiceNotInExe = 1083;      // 0x43b
inline constexpr std::uint32_t kErrorServiceExists = 1073;        // 0x431

struct ServiceStatusRecord {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;

    bool operator==(const ServiceStatusRecord&) const = default;
};

// Where status reports go (SetServiceStatus on the handle of the registered handler).
class ServiceStatusSink {
  public:
    virtual ~ServiceStatusSink() = default;
    // Failures are not reported: the service carries on.
    virtual void SetServiceStatus(const ServiceStatusRecord& status) = 0;
};

// The service main function of the dispatch table; argv[0] is the service name.
using ServiceMainFunction = void (*)(std::uint32_t argc, char** argv);
// The control handler; it runs on the thread that called ServiceDispatcher::Run.
using ServiceControlHandler = void (*)(std::uint32_t control);

class ServiceDispatcher {
  public:
    virtual ~ServiceDispatcher() = default;

    // Connects the process to the service manager, runs `serviceMain` on a thread of its own
    // and hands control codes to the registered handler on the calling thread. Returns true
    // once the service has reported itself stopped; false at once, with the reason in
    // LastErrorCode(), when the dispatcher cannot start.
    virtual bool Run(const char* serviceName, ServiceMainFunction serviceMain) = 0;

    // Registers the control handler of `serviceName`. Returns the sink of its status reports,
    // owned by the dispatcher and valid while it lives, or null with the reason in `errorCode`.
    virtual ServiceStatusSink* RegisterControlHandler(const char* serviceName,
                                                      ServiceControlHandler handler,
                                                      std::uint32_t& errorCode) = 0;
};

// The dispatcher of this system's service manager.
std::unique_ptr<ServiceDispatcher> CreateServiceDispatcher();

// The calling thread's last system error code (GetLastError, errno).
std::uint32_t LastErrorCode();

}  // namespace tillvane::platform
