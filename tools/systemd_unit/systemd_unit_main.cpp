// Writes the systemd units that `-install` would write for the program at a given path: the
// units of the Debian package, the default service's and the template of the named instances.
//
// Usage: tillvane_systemd_unit <program path> <unit file> <template file>

#include <fstream>
#include <iostream>

#include "platform/posix/systemd_service_installer.h"
#include "service/service_identity.h"
#include "service/service_installation.h"

namespace {

bool WriteUnit(const tillvane::platform::ServiceDefinition& service, const char* path) {
    const tillvane::Result<std::string> text = tillvane::platform::SystemdUnitText(service);
    if (!text) {
        std::cerr << "the program path cannot stand in a unit file\n";
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << *text;
    out.close();
    if (!out) {
        std::cerr << "cannot write " << path << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tillvane;
    if (argc != 4) {
        std::cerr << "usage: tillvane_systemd_unit <program path> <unit file> <template file>\n";
        return 2;
    }
    // Installed, not enabled: the shop starts it (or enables it) when it is configured.
    const platform::ServiceDefinition service{kServiceName, kServiceDisplayName, argv[1],
                                              kServiceDescription,
                                              platform::ServiceStart::onDemand};
    // Any instance name makes the template: it names each instance by "%i".
    platform::ServiceDefinition instances = service;
    instances.name.instance = "template";
    return WriteUnit(service, argv[2]) && WriteUnit(instances, argv[3]) ? 0 : 1;
}
