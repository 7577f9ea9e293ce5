#include "service/service_installation.h"

#include "platform/program_path.h"
#include "platform/service_control.h"
#include "service/service_identity.h"
#include "service/text_format.h"

namespace tillvane {

namespace {

std::string ErrorLine(const char* format, const platform::Error& error) {
    return FormatText(format, static_cast<unsigned long>(static_cast<std::uint32_t>(error.code())));
}

// A step the service works without: its failure is told, the installation goes on.
void Warn(std::ostream& out, const char* step, const platform::Error& error,
          const char* consequence) {
    out << FormatText("Warning: %s failed w/err 0x%08lx (%s): %s\n", step,
                      static_cast<unsigned long>(static_cast<std::uint32_t>(error.code())),
                      error.text().c_str(), consequence);
}

}  // namespace

platform::FailureActions ServiceFailureActions() {
    return {{kFirstRestartDelay, kSecondRestartDelay, kLaterRestartDelay}, kFailureCountReset};
}

bool InstallService(platform::ServiceInstaller& installer, const std::string& programPath,
                    const platform::Error& pathError, platform::ServiceStart start,
                    std::ostream& out, const ServiceInstance& instance) {
    const std::string& name = instance.serviceName();
    if (programPath.empty()) {
        out << ErrorLine("GetModuleFileName failed w/err 0x%08lx\n", pathError);
        return false;
    }
    if (const auto error = installer.Connect(true); !error.ok()) {
        out << ErrorLine("OpenSCManager failed w/err 0x%08lx\n", error);
        return false;
    }
    // The logs, the journal and (by default) the receipts live beside the program: a service
    // that cannot write there fails at everything, the log that would say why included.
    const std::string folder = platform::DirectoryOf(programPath);
    if (const auto error = installer.GrantFolderToServiceAccount(folder); !error.ok()) {
        out << FormatText(
            "%s is not installed: the service account cannot be given the right to write in "
            "%s (err 0x%08lx: %s). Put the program in a folder of its own and install it as "
            "an administrator.\n",
            name.c_str(), folder.c_str(),
            static_cast<unsigned long>(static_cast<std::uint32_t>(error.code())),
            error.text().c_str());
        return false;
    }
    // The default instance's display name is its service name too.
    const platform::ServiceDefinition service{
        {kServiceName, instance.name()}, name, programPath, kServiceDescription, start};
    if (const auto error = installer.CreateService(service); !error.ok()) {
        out << ErrorLine("CreateService failed w/err 0x%08lx\n", error);
        return false;
    }
    if (const auto error = installer.SetDescription(kServiceDescription); !error.ok()) {
        Warn(out, "Setting the description", error, "the service works without it");
    }
    if (const auto error = installer.SetFailureActions(ServiceFailureActions()); !error.ok()) {
        Warn(out, "Setting the restarts after a failure", error, "a crashed service stays stopped");
    } else if (const auto flagError = installer.SetFailureActionsOnFailedExit(); !flagError.ok()) {
        Warn(out, "Restarting after a failed start", flagError,
             "only a crash restarts the service");
    }
    if (start == platform::ServiceStart::automatic) {
        if (const auto error = installer.SetDelayedAutoStart(); !error.ok()) {
            Warn(out, "Delaying the automatic start", error,
                 "the service starts with the system, without delay");
        }
    }
    if (const auto error = installer.RegisterEventSource(name, programPath); !error.ok()) {
        Warn(out, "Registering the event source", error,
             "the event log shows the entries without their texts");
    }
    out << FormatText("%s is installed.\n", name.c_str());
    return true;
}

bool RemoveService(platform::ServiceInstaller& installer, std::ostream& out,
                   const std::function<void()>& sleepOneSecond, const ServiceInstance& instance) {
    const std::string& name = instance.serviceName();
    if (const auto error = installer.Connect(false); !error.ok()) {
        out << ErrorLine("OpenSCManager failed w/err 0x%08lx\n", error);
        return false;
    }
    if (const auto error = installer.OpenService({kServiceName, instance.name()}); !error.ok()) {
        out << ErrorLine("OpenService failed w/err 0x%08lx\n", error);
        return false;
    }
    std::uint32_t state = 0;
    // A service that does not take the stop request (it is not running) is deleted at once.
    if (installer.RequestStop(state).ok()) {
        out << FormatText("Stopping %s.", name.c_str()) << std::flush;
        sleepOneSecond();
        while (installer.QueryState(state).ok() && state == platform::kServiceStopPending) {
            out << "." << std::flush;
            sleepOneSecond();
        }
        if (state == platform::kServiceStopped) {
            out << FormatText("\n%s is stopped.\n", name.c_str());
        } else {
            out << FormatText("\n%s failed to stop.\n", name.c_str());
        }
    }
    if (const auto error = installer.DeleteService(); !error.ok()) {
        out << ErrorLine("DeleteService failed w/err 0x%08lx\n", error);
        return false;
    }
    out << FormatText("%s is removed.\n", name.c_str());
    if (const auto error = installer.RemoveEventSource(name); !error.ok()) {
        Warn(out, "Removing the event source", error, "its registry key stays");
    }
    return true;
}

}  // namespace tillvane
