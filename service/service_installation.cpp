#include "service/service_installation.h"

#include "platform/service_control.h"
#include "service/service_identity.h"
#include "service/text_format.h"

namespace tillvane {

namespace {

std::string ErrorLine(const char* format, std::uint32_t code) {
    return FormatText(format, static_cast<unsigned long>(code));
}

}  // namespace

void InstallService(platform::ServiceInstaller& installer, const std::string& programPath,
                    std::uint32_t pathError, std::ostream& out) {
    if (programPath.empty()) {
        out << ErrorLine("GetModuleFileName failed w/err 0x%08lx\n", pathError);
        return;
    }
    if (!installer.Connect(true)) {
        out << ErrorLine("OpenSCManager failed w/err 0x%08lx\n", installer.lastError());
        return;
    }
    const platform::ServiceDefinition service{kServiceName, kServiceDisplayName, programPath};
    if (installer.CreateService(service)) {
        out << FormatText("%s is installed.\n", kServiceName);
    } else {
        out << ErrorLine("CreateService failed w/err 0x%08lx\n", installer.lastError());
    }
}

void RemoveService(platform::ServiceInstaller& installer, std::ostream& out,
                   const std::function<void()>& sleepOneSecond) {
    if (!installer.Connect(false)) {
        out << ErrorLine("OpenSCManager failed w/err 0x%08lx\n", installer.lastError());
        return;
    }
    if (!installer.OpenService(kServiceName)) {
        out << ErrorLine("OpenService failed w/err 0x%08lx\n", installer.lastError());
        return;
    }
    std::uint32_t state = 0;
    // A service that does not take the stop request (it is not running) is deleted at once.
    if (installer.RequestStop(state)) {
        out << FormatText("Stopping %s.", kServiceName) << std::flush;
        sleepOneSecond();
        while (installer.QueryState(state) && state == platform::kServiceStopPending) {
            out << "." << std::flush;
            sleepOneSecond();
        }
        if (state == platform::kServiceStopped) {
            out << FormatText("\n%s is stopped.\n", kServiceName);
        } else {
            out << FormatText("\n%s failed to stop.\n", kServiceName);
        }
    }
    if (installer.DeleteService()) {
        out << FormatText("%s is removed.\n", kServiceName);
    } else {
        out << ErrorLine("DeleteService failed w/err 0x%08lx\n", installer.lastError());
    }
}

}  // namespace tillvane
