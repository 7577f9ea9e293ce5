#include "service/service_instance.h"

#include "platform/service_installer.h"
#include "service/service_identity.h"

namespace tillvane {

namespace {

// Letters, digits, "-" and "_": safe in a service name, a systemd unit name (unescaped, so
// "%i" is the name itself) and a file name on every system.
bool IsInstanceNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

}  // namespace

ServiceInstance::ServiceInstance() : serviceName_(kServiceName) {}

ServiceInstance::ServiceInstance(std::string name)
    : name_(std::move(name)), serviceName_(platform::ServiceName(kServiceName, name_).full()) {}

Result<ServiceInstance> ServiceInstance::Named(std::string_view name) {
    const std::string shown = "Instance name [" + std::string(name) + "] ";
    if (name.empty()) {
        return platform::Error::Message(
            "-instance needs a name: -instance <name> [-install [auto] | -remove]");
    }
    if (name.size() > kMaxInstanceNameLength) {
        return platform::Error::Message(shown + "is longer than " +
                                        std::to_string(kMaxInstanceNameLength) + " characters");
    }
    // A name that begins like a switch is a forgotten name: "-instance -install".
    if (!IsInstanceNameCharacter(name.front()) || name.front() == '-' || name.front() == '_') {
        return platform::Error::Message(shown + "must begin with a letter or a digit");
    }
    for (const char c : name) {
        if (!IsInstanceNameCharacter(c)) {
            return platform::Error::Message(shown + "may hold only letters, digits, '-' and '_'");
        }
    }
    return ServiceInstance(std::string(name));
}

}  // namespace tillvane
