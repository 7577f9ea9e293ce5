#include "tools/printer_simulator/serial_device.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace tillvane::simulator {

namespace {

speed_t SpeedFor(int baudRate) {
    switch (baudRate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

}  // namespace

SerialDevice::~SerialDevice() {
    if (fd_ >= 0) close(fd_);
}

bool SerialDevice::Open(const std::string& path, int baudRate) {
    const speed_t speed = SpeedFor(baudRate);
    if (speed == B0) {
        errno = EINVAL;
        return false;
    }
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios options{};
    if (fd_ < 0 || tcgetattr(fd_, &options) != 0) return false;
    cfmakeraw(&options);
    options.c_cflag |= CLOCAL | CREAD;
    options.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    options.c_cc[VMIN] = 1;
    options.c_cc[VTIME] = 0;
    return cfsetispeed(&options, speed) == 0 && cfsetospeed(&options, speed) == 0 &&
           tcsetattr(fd_, TCSANOW, &options) == 0;
}

}  // namespace tillvane::simulator
