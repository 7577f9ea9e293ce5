#pragma once
// The framework half of the service shell: the status record the service manager is told
// about, the connection to the dispatcher, the control codes turned into calls of the hooks,
// each hook wrapped in a fixed sequence of status reports and error handling, and the event
// log. It knows nothing of receipts; the concrete service overrides the hooks.
//
// A hook that fails throws ServiceError with the system's error code; the wrapper writes
// "<operation> failed w/err 0x%08lx" to the event log and reports a fallback state. Any other
// exception gives a fixed entry ("Service failed to start." ...) and the same fallback; a
// start that fails so still reports an exit code (kErrorExceptionInService).

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "platform/event_log.h"
#include "platform/service_control.h"
#include "service/service_environment.h"

namespace tillvane {

// Longest event-log text LogError writes; longer texts are cut.
inline constexpr std::size_t kMaxErrorEntryLength = 259;

class CServiceBase {
  public:
    CServiceBase(const char* serviceName, ServiceEnvironment environment, bool canStop = true,
                 bool canShutdown = true, bool canPauseContinue = false);
    virtual ~CServiceBase();
    CServiceBase(const CServiceBase&) = delete;
    CServiceBase& operator=(const CServiceBase&) = delete;

    // Runs `service` under the service dispatcher; returns once it has stopped. False, with
    // the reason in platform::LastErrorCode(), when the dispatcher cannot start. One service
    // per process.
    static bool Run(CServiceBase& service);

    // The status record as last set.
    platform::ServiceStatusRecord status() const;
    const char* serviceName() const { return serviceName_; }

  protected:
    // The hooks; in the base each does nothing.
    virtual void OnStart(std::uint32_t argc, char** argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();

    // Sets the state and the exit codes and reports the record. Check point: 0 for running
    // and stopped, the next number of the counter for every other state.
    void SetStatus(std::uint32_t state, std::uint32_t exitCode = platform::kNoError,
                   std::uint32_t specificExitCode = 0);
    // The time a stop may take, reported with the stop-pending state (0 until set).
    void SetStopWaitHint(std::chrono::milliseconds hint) { stopWaitHint_ = hint; }
    // One entry with two strings, the service name and `message`; failures go unreported.
    void LogEvent(std::string_view message, std::uint16_t type) noexcept;
    // "<operation> failed w/err 0x%08lx" as an error entry, cut to kMaxErrorEntryLength.
    void LogError(std::string_view operation, std::uint32_t errorCode) noexcept;

  private:
    static void ServiceMain(std::uint32_t argc, char** argv);
    static void ControlHandler(std::uint32_t control);

    // The wrappers around the hooks.
    void Start(std::uint32_t argc, char** argv);
    void Stop();
    void Pause();
    void Continue();
    void Shutdown();

    static CServiceBase* currentService_;

    const char* serviceName_;
    ServiceEnvironment environment_;

    // Written from the service-main thread (the start) and the dispatcher thread (controls).
    mutable std::mutex statusMutex_;
    platform::ServiceStatusRecord status_;
    platform::ServiceStatusSink* statusHandle_ = nullptr;  // owned by the dispatcher
    // The process's check-point counter: there is one service per process. Never reset.
    std::uint32_t checkPointCounter_ = 1;
    std::chrono::milliseconds stopWaitHint_{0};
};

}  // namespace tillvane
