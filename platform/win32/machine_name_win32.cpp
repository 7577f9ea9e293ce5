#include "platform/machine_name.h"

#include "platform/win32/windows_api.h"

namespace tillvane::platform {

namespace {

// One of the computer's names; empty when the system has none of that kind.
std::string ComputerName(COMPUTER_NAME_FORMAT format) {
    DWORD size = 0;
    ::GetComputerNameExA(format, nullptr, &size);  // asks for the size, the terminator counted
    if (size == 0) return {};
    std::string name(size, '\0');
    if (!::GetComputerNameExA(format, name.data(), &size)) return {};
    name.resize(size);
    return name;
}

}  // namespace

std::vector<std::string> MachineNames() {
    std::vector<std::string> names;
    for (const COMPUTER_NAME_FORMAT format :
         {ComputerNameDnsHostname, ComputerNameDnsFullyQualified, ComputerNameNetBIOS}) {
        std::string name = ComputerName(format);
        if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
}

}  // namespace tillvane::platform
