#include "platform/serial_port.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/arbitrary_line_speed.h"

namespace tillvane::platform {

namespace {

constexpr std::string_view kSerialDevicePrefix = "/dev/ttyS";
// VTIME counts tenths of a second in one byte.
constexpr int kDecisecondMs = 100;
constexpr int kMaxVtime = 255;
// Characters that make a candidate port a pattern rather than a name.
constexpr std::string_view kWildcards = "*?[";
// The usual places of serial devices: USB adapters, USB modems and printers, built-in ports.
constexpr std::array<std::string_view, 3> kSystemPortPatterns = {"/dev/ttyUSB*", "/dev/ttyACM*",
                                                                 "/dev/ttyS*"};

// A line whose other end went away reads as closed at once, with nothing in it.
Error HangUp() {
    return Error(EIO, "the line hung up");
}

struct SpeedEntry {
    int baudRate;
    speed_t speed;
};

constexpr std::array kSpeeds = {
    SpeedEntry{50, B50},         SpeedEntry{75, B75},           SpeedEntry{110, B110},
    SpeedEntry{134, B134},       SpeedEntry{150, B150},         SpeedEntry{200, B200},
    SpeedEntry{300, B300},       SpeedEntry{600, B600},         SpeedEntry{1200, B1200},
    SpeedEntry{1800, B1800},     SpeedEntry{2400, B2400},       SpeedEntry{4800, B4800},
    SpeedEntry{9600, B9600},     SpeedEntry{19200, B19200},     SpeedEntry{38400, B38400},
    SpeedEntry{57600, B57600},   SpeedEntry{115200, B115200},   SpeedEntry{230400, B230400},
    SpeedEntry{460800, B460800}, SpeedEntry{500000, B500000},   SpeedEntry{576000, B576000},
    SpeedEntry{921600, B921600}, SpeedEntry{1000000, B1000000},
};

std::optional<speed_t> SpeedFor(int baudRate) {
    const auto found =
        std::find_if(kSpeeds.begin(), kSpeeds.end(),
                     [baudRate](const SpeedEntry& e) { return e.baudRate == baudRate; });
    if (found == kSpeeds.end()) return std::nullopt;
    return found->speed;
}

std::optional<tcflag_t> CharacterSizeFor(int byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        case 8:
            return CS8;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::string SerialDevicePath(std::string_view portName) {
    if (const std::optional<int> number = ComPortNumber(portName)) {
        return std::string(kSerialDevicePrefix) + std::to_string(*number - 1);
    }
    return std::string(portName);
}

struct SerialPort::Device {
    explicit Device(int descriptor) : fd(descriptor) {}
    ~Device() {
        // Exclusive mode outlives this descriptor while another one holds the terminal.
        ioctl(fd, TIOCNXCL);
        close(fd);  // also drops the flock
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    int fd;
};

std::vector<std::string> ExpandSerialPortPatterns(const std::vector<std::string>& patterns) {
    std::vector<std::string> names;
    for (const std::string& pattern : patterns) {
        if (pattern.find_first_of(kWildcards) == std::string::npos) {
            AddPortNameOnce(names, pattern);
            continue;
        }
        glob_t matches{};
        if (glob(pattern.c_str(), 0, /*errfunc=*/nullptr, &matches) == 0) {
            for (std::size_t i = 0; i < matches.gl_pathc; ++i)
                AddPortNameOnce(names, matches.gl_pathv[i]);
        }
        globfree(&matches);
    }
    return names;
}

std::vector<std::string> SystemSerialPortPatterns() {
    return {kSystemPortPatterns.begin(), kSystemPortPatterns.end()};
}

SerialPort::SerialPort() = default;
SerialPort::~SerialPort() = default;

Error SerialPort::Open(const std::string& devicePath) {
    Close();
    // Non-blocking for the open itself, so that a modem line without carrier cannot hold it.
    const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return LastSystemError();
    auto device = std::make_unique<Device>(fd);
    // The lock keeps out every other program that asks for it, root included; TIOCEXCL keeps
    // out the rest.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return LastSystemError();
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) return LastSystemError();
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return LastSystemError();
    device_ = std::move(device);
    return {};
}

Error SerialPort::ApplyLineSettings(const SerialLineSettings& settings) {
    if (!device_) return SystemError(EBADF);
    const int fd = device_->fd;
    termios options{};
    if (tcgetattr(fd, &options) != 0) return LastSystemError();
    // A speed without a B constant of its own is set afterwards, through termios2; until then
    // the line keeps the speed it had.
    const std::optional<speed_t> speed = SpeedFor(settings.baudRate);
    const std::optional<tcflag_t> characterSize = CharacterSizeFor(settings.byteSize);
    const bool parityKnown = settings.parity >= 0 && settings.parity <= 2;
    const bool stopBitsKnown = settings.stopBits == 0 || settings.stopBits == 2;
    if (settings.baudRate <= 0 || !characterSize || !parityKnown || !stopBitsKnown) {
        return SystemError(EINVAL, ErrorKind::valueRefused);
    }
    cfmakeraw(&options);
    options.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    options.c_cflag |= *characterSize | CLOCAL | CREAD;
    if (settings.parity != 0) options.c_cflag |= PARENB;
    if (settings.parity == 1) options.c_cflag |= PARODD;
    if (settings.stopBits == 2) options.c_cflag |= CSTOPB;
    options.c_iflag &= ~(IXON | IXOFF | IXANY);
    if ((speed && (cfsetispeed(&options, *speed) != 0 || cfsetospeed(&options, *speed) != 0)) ||
        tcsetattr(fd, TCSANOW, &options) != 0) {
        const int code = errno;
        return SystemError(code, code == EINVAL ? ErrorKind::valueRefused : ErrorKind::other);
    }
    if (!speed) {
        const Error speedRefused =
            SetArbitraryLineSpeed(fd, static_cast<unsigned>(settings.baudRate));
        if (!speedRefused.ok()) return speedRefused;
    }
    // A pseudo-terminal has no modem lines; it refuses the request, which is no fault.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        return LastSystemError();
    }
    return {};
}

Error SerialPort::ApplyReadTimeout(std::chrono::milliseconds timeout) {
    if (!device_) return SystemError(EBADF);
    termios options{};
    if (tcgetattr(device_->fd, &options) != 0) return LastSystemError();
    // VMIN 0 with VTIME t: a read returns as soon as one byte is there, or empty after t.
    const auto tenths = (timeout.count() + kDecisecondMs - 1) / kDecisecondMs;
    options.c_cc[VMIN] = 0;
    options.c_cc[VTIME] = static_cast<cc_t>(std::clamp<long long>(tenths, 1, kMaxVtime));
    if (tcsetattr(device_->fd, TCSANOW, &options) != 0) return LastSystemError();
    readTimeout_ = timeout;
    return {};
}

void SerialPort::Close() {
    device_.reset();
}

Error SerialPort::Write(std::string_view bytes) {
    if (!device_) return SystemError(EBADF);
    while (!bytes.empty()) {
        const ssize_t written = write(device_->fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return LastSystemError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// The wait comes from poll rather than from VTIME alone: a read that returns empty at once
// (a line that hung up) then differs from one that waited out its time-out.
std::optional<char> SerialPort::ReadByte(Error& error) {
    error = {};
    if (!device_) {
        error = SystemError(EBADF);
        return std::nullopt;
    }
    pollfd entry{device_->fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = poll(&entry, 1, static_cast<int>(readTimeout_.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        error = LastSystemError();
        return std::nullopt;
    }
    if (ready == 0) return std::nullopt;  // the time-out passed
    if ((entry.revents & POLLIN) == 0) {
        error = (entry.revents & POLLNVAL) != 0 ? SystemError(EBADF) : HangUp();
        return std::nullopt;
    }
    char byte = 0;
    ssize_t count = 0;
    do {
        count = read(device_->fd, &byte, 1);
    } while (count < 0 && errno == EINTR);
    if (count == 1) return byte;
    error = count < 0 ? LastSystemError() : HangUp();
    return std::nullopt;
}

void SerialPort::DiscardInput() {
    if (device_) tcflush(device_->fd, TCIFLUSH);
}

Error SerialPort::CheckLine() {
    if (!device_) return SystemError(EBADF);
    pollfd entry{device_->fd, POLLIN, 0};
    if (poll(&entry, 1, /*timeout=*/0) < 0) return LastSystemError();
    if ((entry.revents & POLLNVAL) != 0) return SystemError(EBADF);
    if ((entry.revents & (POLLHUP | POLLERR)) != 0) return HangUp();
    return {};
}

}  // namespace tillvane::platform
