#pragma once
// Installation as a systemd service: a unit file `<name>.service` under the unprivileged
// account "tillvane", restarted after a failure, started on demand (installed, not enabled) or
// with the system (enabled), and systemctl for the state and the stop. The unit holds the
// description and the restarts; syslog needs no registered source. The unit folder and the helper
// programs can be pointed elsewhere through the environment, so that installation can be tried
// without touching the machine.

#include <string>

#include "base/result.h"
#include "platform/service_installer.h"

namespace tillvane::platform {

inline constexpr const char* kDefaultSystemdUnitDirectory = "/etc/systemd/system";
// The account the service runs under: a system account that may open serial ports.
inline constexpr const char* kServiceAccountName = "tillvane";
inline constexpr const char* kSerialPortGroup = "dialout";

struct SystemdSettings {
    std::string unitDirectory = kDefaultSystemdUnitDirectory;
    std::string systemctl = "systemctl";
    std::string useradd = "useradd";

    // The defaults, overridden by TILLVANE_SYSTEMD_UNIT_DIR, TILLVANE_SYSTEMCTL and
    // TILLVANE_USERADD where they are set and not empty.
    static SystemdSettings FromEnvironment();
};

// "Tillvane_SE.service"; a named instance is one of the template's: "Tillvane_SE@front.service".
std::string SystemdUnitFileName(const ServiceName& name);
// The template every named instance of `baseName` runs from: "Tillvane_SE@.service".
std::string SystemdTemplateFileName(const std::string& baseName);
// What marks a named instance as installed: a drop-in of its own beside the template's
// (the template alone would start any name), "Tillvane_SE@front.service.d/instance.conf".
inline constexpr const char* kInstanceMarkerFileName = "instance.conf";

// How long systemd waits before it restarts a failed service: the first restart delay of the
// Windows installation.
inline constexpr int kSystemdRestartSeconds = 5;

// The unit file for `service`: what `-install` writes and what the Debian package ships; for
// a named instance, the template all instances share. False when its program path cannot
// stand in a unit file (it holds a line break or another control character).
tillvane::Result<std::string> SystemdUnitText(const ServiceDefinition& service);

class SystemdServiceInstaller final : public ServiceInstaller {
  public:
    explicit SystemdServiceInstaller(SystemdSettings settings);

    Error Connect(bool forCreate) override;
    // The package (or the administrator) gives the folder to the account: nothing to do.
    Error GrantFolderToServiceAccount(const std::string&) override { return {}; }
    Error CreateService(const ServiceDefinition& service) override;
    // In the unit already.
    Error SetDescription(const std::string&) override { return {}; }
    Error SetFailureActions(const FailureActions&) override { return {}; }
    // Restart=on-failure counts a non-zero exit.
    Error SetFailureActionsOnFailedExit() override { return {}; }
    // systemd starts an enabled unit once its dependencies are up: no delay to ask for.
    Error SetDelayedAutoStart() override { return {}; }
    // syslog takes any source.
    Error RegisterEventSource(const std::string&, const std::string&) override { return {}; }
    Error RemoveEventSource(const std::string&) override { return {}; }
    Error OpenService(const ServiceName& name) override;
    Error RequestStop(std::uint32_t& state) override;
    Error QueryState(std::uint32_t& state) override;
    Error DeleteService() override;

  private:
    std::string UnitPath(const ServiceName& name) const;
    std::string MarkerDirectory(const ServiceName& name) const;
    // Installs a named instance: the template when it is missing, and the instance's marker.
    Error CreateInstance(const ServiceDefinition& service, const std::string& templateText);
    // Reloads systemd and, when asked, enables the unit: a unit systemd does not take is no
    // installed service.
    Error Activate(const ServiceDefinition& service);
    Error EnsureServiceAccount();
    Error ReloadSystemd();
    // `systemctl <verb> <unit>` for the unit of `name`.
    Error Systemctl(const char* verb, const ServiceName& name);
    // State of the opened unit after `systemctl is-active`; fails when it cannot be told.
    Error ActiveState(std::uint32_t& state);

    SystemdSettings settings_;
    ServiceName openedName_;
};

}  // namespace tillvane::platform
