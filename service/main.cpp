// The program's entry point: install or remove the service, or print the help text and run
// as the service.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <thread>

#include "platform/error.h"
#include "platform/program_path.h"
#include "platform/service_control.h"
#include "platform/service_installer.h"
#include "service/command_line.h"
#include "service/sample_service.h"
#include "service/service_error.h"
#include "service/service_installation.h"
#include "service/text_format.h"

namespace {

using namespace tillvane;

// Exit code of a service run that failed (it could not run, or its start failed). systemd
// reads it, so there it tells the failure; the Windows service manager reads the status
// reports instead, and there the program ends with 0 on every path.
#ifdef _WIN32
constexpr int kExitServiceFailed = 0;
int ExitCodeOfSpecificError(std::uint32_t) {
    return kExitServiceFailed;
}
#else
constexpr int kExitServiceFailed = 1;
// A start that could not serve ends with its cause's code, so systemd shows which.
int ExitCodeOfSpecificError(std::uint32_t specificCode) {
    return static_cast<int>(specificCode);
}
#endif

// Exit code of an installation or removal that failed: an install script can tell.
constexpr int kExitInstallationFailed = 1;
// Exit code of a command line that names no usable instance (EX_USAGE); the systemd unit
// does not restart a service that ended with it.
constexpr int kExitCommandLineRefused = 64;

bool Install(const ServiceInstance& instance, platform::ServiceStart start) {
    const std::string programPath = platform::ProgramPath();
    const platform::Error pathError =
        programPath.empty() ? platform::LastSystemError() : platform::Error();
    return InstallService(*platform::CreateServiceInstaller(), programPath, pathError, start,
                          std::cout, instance);
}

bool Remove(const ServiceInstance& instance) {
    return RemoveService(
        *platform::CreateServiceInstaller(), std::cout,
        [] { std::this_thread::sleep_for(std::chrono::seconds(1)); }, instance);
}

int RunService(const ServiceInstance& instance) {
    try {
        CSampleService service(instance);
        if (!CServiceBase::Run(service)) {
            std::cout << FormatText("Service failed to run w/err 0x%08lx\n",
                                    static_cast<unsigned long>(platform::LastErrorCode()));
            return kExitServiceFailed;
        }
        const platform::ServiceStatusRecord status = service.status();
        const int exitCode = status.win32ExitCode == platform::kNoError ? 0
                             : status.win32ExitCode == kErrorServiceSpecificError
                                 ? ExitCodeOfSpecificError(status.serviceSpecificExitCode)
                                 : kExitServiceFailed;
        if (auto kept = service.TakeAbandonedFrontEnd()) {
            // The web server thread outlived the stop and may still be inside a request:
            // end here, without running destructors under it (the front end's included).
            std::cout.flush();
            std::fflush(nullptr);
            std::_Exit(exitCode);
        }
        return exitCode;
    } catch (const ServiceError& error) {
        std::cout << FormatText("Service failed to run w/err 0x%08lx\n",
                                static_cast<unsigned long>(error.code()));
    } catch (const std::exception& error) {
        std::cout << "Service failed to run: " << error.what() << "\n";
    }
    return kExitServiceFailed;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Lives until the end: the service keeps its name.
    const CommandLine commandLine = ReadCommandLine(argc, argv);
    switch (commandLine.action) {
        case CommandLineAction::kInstall:
            return Install(commandLine.instance, commandLine.automaticStart
                                                     ? platform::ServiceStart::automatic
                                                     : platform::ServiceStart::onDemand)
                       ? 0
                       : kExitInstallationFailed;
        case CommandLineAction::kRemove:
            return Remove(commandLine.instance) ? 0 : kExitInstallationFailed;
        case CommandLineAction::kNothing:
            return 0;
        case CommandLineAction::kRefused:
            std::cout << commandLine.refusal << "\n" << kHelpText << std::flush;
            return kExitCommandLineRefused;
        case CommandLineAction::kRunService:
            break;
    }
    // Flushed at once: under systemd or a pipe, standard output is not line-buffered.
    std::cout << kHelpText << std::flush;
    return RunService(commandLine.instance);
}
