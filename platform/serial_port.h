#pragma once
// A serial device opened for this program alone. The steps follow the system's own: open the
// device, apply the line settings, apply the read time-out; each step can fail on its own and
// leaves the system's error code behind.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tillvane::platform {

// Line settings in the values the configuration uses.
struct SerialLineSettings {
    int baudRate = 9600;
    int byteSize = 8;  // data bits, 5 to 8
    int parity = 0;    // 0 none, 1 odd, 2 even
    int stopBits = 0;  // 0 one stop bit, 2 two stop bits
};

// The device that a configured port name stands for: COMn is the system's n-th serial port;
// any other name is used as it is.
std::string SerialDevicePath(std::string_view portName);

// A stop must not wait for a slow or silent printer. Once transfers are interrupted, every
// write and every read of any serial port of the process fails at once (a read already
// waiting ends at its own time-out), and each refusal is counted so that whoever ran the work
// can tell that it was cut short.
namespace serial_interrupt {
inline std::atomic<bool> interrupted{false};
inline std::atomic<std::uint64_t> refusals{0};
}  // namespace serial_interrupt

inline void InterruptSerialTransfers() {
    serial_interrupt::interrupted = true;
}
inline void ResumeSerialTransfers() {
    serial_interrupt::interrupted = false;
}
// How many transfers were refused so far.
inline std::uint64_t RefusedSerialTransfers() {
    return serial_interrupt::refusals;
}
// True, and counted, when transfers are interrupted: the caller then transfers nothing.
inline bool RefuseSerialTransfer() {
    if (!serial_interrupt::interrupted) return false;
    ++serial_interrupt::refusals;
    return true;
}

class SerialPort {
  public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `devicePath` for reading and writing, for this program alone (another open of
    // the same device fails until this one is closed). Closes a port opened before.
    bool Open(const std::string& devicePath);
    // Speed and framing, no flow control, DTR and RTS raised. False when the system refuses a
    // value (an unsupported speed included).
    bool ApplyLineSettings(const SerialLineSettings& settings);
    // A one-byte read gives up after `timeout` without a byte.
    bool ApplyReadTimeout(std::chrono::milliseconds timeout);
    void Close();
    bool isOpen() const;

    // Writes all of `bytes`, waiting as long as the line needs.
    bool Write(std::string_view bytes);
    // One byte, or nothing when the read time-out passed or the read failed.
    std::optional<char> ReadByte();
    // Drops the bytes received and not read yet.
    void DiscardInput();

    // The system's code for the last failed step (errno, GetLastError on Windows).
    int lastError() const { return lastError_; }

  private:
    struct Device;
    std::unique_ptr<Device> device_;
    int lastError_ = 0;
};

}  // namespace tillvane::platform
