#include "platform/machine_name.h"

#include <unistd.h>

#include <climits>

namespace tillvane::platform {

std::vector<std::string> MachineNames() {
    // POSIX leaves a cut name unterminated: one byte more, kept 0, ends it either way.
    char name[HOST_NAME_MAX + 2] = {};
    if (::gethostname(name, HOST_NAME_MAX + 1) != 0 || name[0] == '\0') return {};
    return {std::string(name)};
}

}  // namespace tillvane::platform
