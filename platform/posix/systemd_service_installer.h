#pragma once
// Installation as a systemd service: a unit file `<name>.service` that systemd starts on
// demand (installed, not enabled) under the unprivileged account "tillvane", and systemctl for
// the state and the stop. The unit folder and the helper programs can be pointed elsewhere
// through the environment, so that installation can be tried without touching the machine.

#include <string>

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

std::string SystemdUnitFileName(const std::string& serviceName);

// The unit file for `service`. False when its program path cannot stand in a unit file
// (it holds a line break or another control character).
bool SystemdUnitText(const ServiceDefinition& service, std::string& text);

class SystemdServiceInstaller final : public ServiceInstaller {
  public:
    explicit SystemdServiceInstaller(SystemdSettings settings);

    bool Connect(bool forCreate) override;
    bool CreateService(const ServiceDefinition& service) override;
    bool OpenService(const std::string& name) override;
    bool RequestStop(std::uint32_t& state) override;
    bool QueryState(std::uint32_t& state) override;
    bool DeleteService() override;
    std::uint32_t lastError() const override { return lastError_; }

  private:
    std::string UnitPath(const std::string& name) const;
    bool EnsureServiceAccount();
    bool ReloadSystemd();
    // State of the opened unit after `systemctl is-active`; false when it cannot be told.
    bool ActiveState(std::uint32_t& state);
    bool Fail(std::uint32_t code);
    bool FailWithErrno();

    SystemdSettings settings_;
    std::string openedName_;
    std::uint32_t lastError_ = 0;
};

}  // namespace tillvane::platform
