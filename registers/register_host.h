#pragma once
// Selects the driver named by driverModel, owns it for the life of the service and writes
// the register log.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "registers/register_log.h"
#include "registers/virtual_register.h"

namespace tillvane {

inline constexpr std::size_t kMaxDriverModelLength = 99;
inline constexpr std::string_view kDriverModelKey = "driverModel";

class RegisterHost {
  public:
    // Reads driverModel from the configuration at `configPath`, creates the matching driver
    // and has it load its settings. Why no driver was created, when none was (the register
    // log says it too). An empty `logPath` turns the register log off.
    platform::Error Initialize(const std::string& configPath, const std::string& logPath);
    // Every key the host and its drivers read, whichever driver the file names: a key of the
    // other driver is the shop's, not a typo.
    static std::vector<std::string_view> SettingKeys();
    // Destroys the driver, if there is one.
    void ReleaseDriver();

    VirtualRegister* driver() const { return driver_.get(); }
    const std::string& driverModel() const { return driverModel_; }
    void WriteLog(std::string_view message) const { log_.Write(message); }

  private:
    std::string driverModel_;  // upper-cased
    std::unique_ptr<VirtualRegister> driver_;
    RegisterLog log_;
};

}  // namespace tillvane
