#pragma once
// Which of the program's services this run is. The default instance is the service
// "Tillvane_SE" with the files named after the program; a named instance ("front") is a
// service of its own, "Tillvane_SE_front", with files of its own beside the program
// ("Tillvane_se_front.ini", ...), so that several printers on one machine each have a service
// that can fail, restart or stall without touching the others.

#include <cstddef>
#include <string>

#include <string_view>
#include "base/result.h"

namespace tillvane {

// Long enough for a till's or a counter's name, short enough for every service manager and
// file name that carries it.
inline constexpr std::size_t kMaxInstanceNameLength = 32;

class ServiceInstance {
  public:
    // The default instance.
    ServiceInstance();

    // The instance called `name`, or why `name` is no instance name, in words for the person
    // who typed it.
    static Result<ServiceInstance> Named(std::string_view name);

    bool isDefault() const { return name_.empty(); }
    // Empty for the default instance.
    const std::string& name() const { return name_; }
    // The name the service manager knows it by: "Tillvane_SE" or "Tillvane_SE_<name>".
    const std::string& serviceName() const { return serviceName_; }

  private:
    explicit ServiceInstance(std::string name);

    std::string name_;
    std::string serviceName_;
};

}  // namespace tillvane
