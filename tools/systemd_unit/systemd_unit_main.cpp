// Writes the systemd unit that `-install` would write for the program at a given path: the
// unit of the Debian package.
//
// Usage: tillvane_systemd_unit <program path> <unit file>

#include <fstream>
#include <iostream>

#include "platform/posix/systemd_service_installer.h"
#include "service/service_identity.h"
#include "service/service_installation.h"

int main(int argc, char* argv[]) {
    using namespace tillvane;
    if (argc != 3) {
        std::cerr << "usage: tillvane_systemd_unit <program path> <unit file>\n";
        return 2;
    }
    // Installed, not enabled: the shop starts it (or enables it) when it is configured.
    const platform::ServiceDefinition service{kServiceName, kServiceDisplayName, argv[1],
                                              kServiceDescription,
                                              platform::ServiceStart::onDemand};
    std::string text;
    if (!platform::SystemdUnitText(service, text)) {
        std::cerr << "the program path cannot stand in a unit file\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
