#pragma once
// A serial device opened for this program alone. The steps follow the system's own: open the
// device, apply the line settings, apply the read time-out; each step can fail on its own and
// says why. A device that goes away while open (an adapter unplugged) fails its reads and
// writes for a reason other than a time-out.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_device.h"
#include "platform/error.h"

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

// The n of a port named COMn (any case, n from 1); none for any other name.
std::optional<int> ComPortNumber(std::string_view portName);

// `names` with `name` added at the end, unless it is there already.
void AddPortNameOnce(std::vector<std::string>& names, std::string name);

// The port names that `patterns` stand for, in order, each once. On Linux a pattern with
// wildcards (/dev/ttyUSB*) stands for the existing devices it matches, sorted; a name without
// them stands for itself, whether or not it exists.
std::vector<std::string> ExpandSerialPortPatterns(const std::vector<std::string>& patterns);

// Where the system's serial ports are looked for when no candidates are configured: the ports
// the system lists (Windows), or the usual device patterns (Linux).
std::vector<std::string> SystemSerialPortPatterns();

class SerialPort final : public ByteDevice {
  public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `devicePath` for reading and writing, for this program alone (another open of
    // the same device fails until this one is closed). Closes a port opened before.
    Error Open(const std::string& devicePath);
    // Speed and framing, no flow control, DTR and RTS raised. A value the system refuses (an
    // unsupported speed included) fails with valueRefused(); any other failure means the
    // device does not work as a serial port.
    Error ApplyLineSettings(const SerialLineSettings& settings);
    Error ApplyReadTimeout(std::chrono::milliseconds timeout) override;
    void Close() override;
    bool isOpen() const override;
    // Waits as long as the line needs.
    Error Write(std::string_view bytes) override;
    std::optional<char> ReadByte(Error& error) override;
    void DiscardInput() override;
    Error CheckLine() override;

  private:
    struct Device;
    std::unique_ptr<Device> device_;
    std::chrono::milliseconds readTimeout_{0};
};

}  // namespace tillvane::platform
