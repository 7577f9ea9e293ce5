#include "service/sample_service.h"

#include <string>

#include "platform/program_path.h"
#include "service/service_error.h"
#include "service/worker_paths.h"

namespace tillvane {

using namespace platform;

CSampleService::CSampleService(const ServiceInstance& instance)
    : CSampleService(instance.serviceName().c_str(), SystemServiceEnvironment(), [&instance] {
          return CreateAppFrontEnd(instance.name(), instance.serviceName());
      }) {
    instanceName_ = instance.name();
}

CSampleService::CSampleService(const char* serviceName, ServiceEnvironment environment,
                               FrontEndFactory frontEndFactory,
                               std::chrono::milliseconds serverStopTimeout)
    : CServiceBase(serviceName, std::move(environment), true, true, false),
      frontEndFactory_(std::move(frontEndFactory)),
      serverStopTimeout_(serverStopTimeout) {
    SetStopWaitHint(serverStopTimeout + kStopWaitMargin);
}

CSampleService::~CSampleService() {
    stopRequested_.Set();
}

void CSampleService::OnStart(std::uint32_t, char**) {
    LogEvent(std::string(serviceName()) + " in OnStart", kEventLogInformationType);
    const platform::Error queued = workQueue_.Queue([this] { WorkerLoop(); });
    if (!queued.ok()) throw ServiceError(static_cast<std::uint32_t>(queued.code()));
    startedEvent_.Wait();
    if (!startOutcome_.ok()) {
        // The worker has shut the front end down already.
        throw ServiceSpecificError(startOutcome_.code, startOutcome_.reason);
    }
}

void CSampleService::ReportStarted(ServerStart outcome) noexcept {
    if (startReported_.exchange(true)) return;
    startOutcome_ = std::move(outcome);
    startedEvent_.Set();
}

void CSampleService::OnStop() {
    LogEvent(std::string(serviceName()) + " in OnStop", kEventLogInformationType);
    stopRequested_.Set();
    workerDoneEvent_.Wait();
}

void CSampleService::WorkerLoop() noexcept {
    std::unique_ptr<FrontEnd> frontEnd;
    try {
        const WorkerPaths paths = WorkerPathsFor(ProgramPath(), instanceName_);
        // Relative paths anywhere in the process resolve against the program's folder.
        SetWorkingDirectory(paths.directory);
        frontEnd = frontEndFactory_();
        ServerStart started = frontEnd->Start(paths.configPath, paths.registerLogPath);
        if (started.ok()) {
            ReportStarted(std::move(started));
            // The wait ends as soon as the flag is set; the time-out only bounds each look.
            while (!stopRequested_.WaitFor(kIdlePollInterval)) {
            }
        } else {
            // No server, nothing to serve: what did start goes before the start fails.
            ShutDown(std::move(frontEnd));
            ReportStarted(std::move(started));
            return;
        }
    } catch (...) {
        // The worker cannot go on. What did start is shut down now, and the worker-done
        // event is signalled, so that a later stop completes at once.
        LogWorkerFailure(std::current_exception());
        ShutDown(std::move(frontEnd));
        ReportStarted(
            ServerStart{kStartServerFailed, std::string(serviceName()) + " WorkerLoop failed"});
        return;
    }
    ShutDown(std::move(frontEnd));
}

void CSampleService::ShutDown(std::unique_ptr<FrontEnd> frontEnd) noexcept {
    bool serverEnded = true;
    if (frontEnd) {
        try {
            frontEnd->RequestServerExit();
            if (frontEnd->ServerRunning()) {
                serverEnded = frontEnd->WaitForServerDone(serverStopTimeout_);
            }
        } catch (...) {
            LogWorkerFailure(std::current_exception());
            serverEnded = false;
        }
    }
    if (!serverEnded) {
        frontEndAbandoned_ = true;
        // Neither the driver nor the front end may go while the server thread can use them.
        abandonedFrontEnd_.frontEnd = std::move(frontEnd);
    }
    workerDoneEvent_.Set();
    if (!frontEnd) return;
    try {
        frontEnd->ReleaseDriver();
        frontEnd.reset();
    } catch (...) {
        LogWorkerFailure(std::current_exception());
    }
}

void CSampleService::LogWorkerFailure(std::exception_ptr failure) noexcept {
    try {
        std::rethrow_exception(failure);
    } catch (const ServiceError& error) {
        LogError(std::string(serviceName()) + " WorkerLoop", error.code());
    } catch (const std::exception& error) {
        std::string text = std::string(serviceName()) + " WorkerLoop failed: " + error.what();
        if (text.size() > kMaxErrorEntryLength) text.resize(kMaxErrorEntryLength);
        LogEvent(text, kEventLogErrorType);
    } catch (...) {
        LogEvent(std::string(serviceName()) + " WorkerLoop failed.", kEventLogErrorType);
    }
}

}  // namespace tillvane
