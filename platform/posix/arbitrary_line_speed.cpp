#include "platform/posix/arbitrary_line_speed.h"

#include <cerrno>

#if defined(__linux__)
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace tillvane::platform {

#if defined(__linux__)

namespace {

constexpr unsigned long long kPercent = 100;

bool CloseEnough(unsigned wanted, unsigned actual) {
    const unsigned long long difference = wanted > actual ? wanted - actual : actual - wanted;
    return difference * kPercent <=
           static_cast<unsigned long long>(wanted) * kMaxLineSpeedDeviationPercent;
}

}  // namespace

bool SetArbitraryLineSpeed(int fd, unsigned baudRate, int& error) {
    termios2 options{};
    if (ioctl(fd, TCGETS2, &options) != 0) {
        error = errno;
        return false;
    }
    // Input bits 0: the input runs at the output speed.
    options.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    options.c_cflag |= BOTHER;
    options.c_ispeed = baudRate;
    options.c_ospeed = baudRate;
    if (ioctl(fd, TCSETS2, &options) != 0) {
        error = errno;
        return false;
    }
    // A driver that cannot run the speed falls back to another one and says so here.
    unsigned applied = 0;
    if (!ReadLineSpeed(fd, applied, error)) return false;
    if (!CloseEnough(baudRate, applied)) {
        error = EINVAL;
        return false;
    }
    return true;
}

bool ReadLineSpeed(int fd, unsigned& baudRate, int& error) {
    termios2 options{};
    if (ioctl(fd, TCGETS2, &options) != 0) {
        error = errno;
        return false;
    }
    baudRate = options.c_ospeed;
    return true;
}

#else

bool SetArbitraryLineSpeed(int, unsigned, int& error) {
    error = EINVAL;
    return false;
}

bool ReadLineSpeed(int, unsigned&, int& error) {
    error = EINVAL;
    return false;
}

#endif

}  // namespace tillvane::platform
