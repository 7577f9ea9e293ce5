#pragma once
// A serial device opened for this program alone. The steps follow the system's own: open the
// device, apply the line settings, apply the read time-out; each step can fail on its own and
// leaves the system's error code behind.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cancel_token.h"

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
    // Once `token` is cancelled, every write and read fails at once. Null, the default,
    // cancels nothing; the token must outlive its use here.
    void SetCancelToken(CancelToken* token) { cancelToken_ = token; }

    // The system's code for the last failed step (errno, GetLastError on Windows).
    int lastError() const { return lastError_; }

  private:
    // True, and counted on the token, when the transfer must not happen.
    bool Refused() { return cancelToken_ != nullptr && cancelToken_->Refuse(); }

    struct Device;
    std::unique_ptr<Device> device_;
    CancelToken* cancelToken_ = nullptr;
    int lastError_ = 0;
};

}  // namespace tillvane::platform
