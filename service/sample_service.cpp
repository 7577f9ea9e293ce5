#include "service/sample_service.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/program_path.h"
#include "service/service_error.h"
#include "service/worker_paths.h"

namespace tillvane {

using namespace platform;

namespace {

// Keeps a front end whose server thread outlived the stop. It is never destroyed, not even
// at exit: that thread may still be inside a request that uses the application context, the
// register host and the driver, and the process ends soon after the stop anyway.
void KeepForServerThread(std::unique_ptr<FrontEnd> frontEnd) {
    static auto* const mutex = new std::mutex;
    static auto* const kept = new std::vector<std::unique_ptr<FrontEnd>>;
    std::lock_guard lock(*mutex);
    try {
        kept->push_back(std::move(frontEnd));
    } catch (...) {
        static_cast<void>(frontEnd.release());  // no room to keep it: leak it rather than end it
    }
}

}  // namespace

CSampleService::CSampleService(const char* serviceName)
    : CSampleService(serviceName, SystemServiceEnvironment(), &CreateAppFrontEnd) {}

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
    LogEvent("Tillvane_SE in OnStart", kEventLogInformationType);
    std::uint32_t error = kNoError;
    if (!workQueue_.Queue([this] { WorkerLoop(); }, error)) throw ServiceError(error);
}

void CSampleService::OnStop() {
    LogEvent("Tillvane_SE in OnStop", kEventLogInformationType);
    stopRequested_.Set();
    workerDoneEvent_.Wait();
}

void CSampleService::WorkerLoop() noexcept {
    std::unique_ptr<FrontEnd> frontEnd;
    try {
        const WorkerPaths paths = WorkerPathsFor(ProgramPath());
        // Relative paths anywhere in the process resolve against the program's folder.
        SetWorkingDirectory(paths.directory);
        frontEnd = frontEndFactory_();
        // Whatever the start-up achieved (no configuration, no driver, no server), the service
        // runs on until it is stopped.
        frontEnd->Start(paths.configPath, paths.registerLogPath);
        // The wait ends as soon as the flag is set; the time-out only bounds each look.
        while (!stopRequested_.WaitFor(kIdlePollInterval)) {
        }
    } catch (...) {
        // The worker cannot go on. What did start is shut down now, and the worker-done
        // event is signalled, so that a later stop completes at once.
        LogWorkerFailure(std::current_exception());
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
    if (!serverEnded) frontEndAbandoned_ = true;
    workerDoneEvent_.Set();
    if (!frontEnd) return;
    try {
        if (!serverEnded) {
            // Neither the driver nor the front end may go while the server thread can use them.
            KeepForServerThread(std::move(frontEnd));
            return;
        }
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
        LogError("Tillvane_SE WorkerLoop", error.code());
    } catch (const std::exception& error) {
        std::string text = std::string("Tillvane_SE WorkerLoop failed: ") + error.what();
        if (text.size() > kMaxErrorEntryLength) text.resize(kMaxErrorEntryLength);
        LogEvent(text, kEventLogErrorType);
    } catch (...) {
        LogEvent("Tillvane_SE WorkerLoop failed.", kEventLogErrorType);
    }
}

}  // namespace tillvane
