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

// A speed the kernel does not take comes back as EINVAL.
Error SpeedError(int code) {
    return SystemError(code, code == EINVAL ? ErrorKind::valueRefused : ErrorKind::other);
}

}  // namespace

Error SetArbitraryLineSpeed(int fd, unsigned baudRate) {
    termios2 options{};
    if (ioctl(fd, TCGETS2, &options) != 0) return SpeedError(errno);
    // Input bits 0: the input runs at the output speed.
    options.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    options.c_cflag |= BOTHER;
    options.c_ispeed = baudRate;
    options.c_ospeed = baudRate;
    if (ioctl(fd, TCSETS2, &options) != 0) return SpeedError(errno);
    // A driver that cannot run the speed falls back to another one and says so here.
    const tillvane::Result<unsigned> applied = ReadLineSpeed(fd);
    if (!applied.ok()) return SpeedError(applied.error().code());
    if (!CloseEnough(baudRate, applied.value())) return SpeedError(EINVAL);
    return {};
}

tillvane::Result<unsigned> ReadLineSpeed(int fd) {
    termios2 options{};
    if (ioctl(fd, TCGETS2, &options) != 0) return SystemError(errno);
    return static_cast<unsigned>(options.c_ospeed);
}

#else

Error SetArbitraryLineSpeed(int, unsigned) {
    return SystemError(EINVAL, ErrorKind::valueRefused);
}

tillvane::Result<unsigned> ReadLineSpeed(int) {
    return SystemError(EINVAL);
}

#endif

}  // namespace tillvane::platform
