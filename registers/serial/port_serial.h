#pragma once
// The serial driver's COM port: opened and configured once, then the byte stream of the link.

#include <chrono>
#include <string>
#include <string_view>

#include "platform/serial_port.h"
#include "registers/serial/byte_channel.h"

namespace tillvane {

// A one-byte read gives up after this long without a byte.
inline constexpr std::chrono::milliseconds kPortReadTimeout{1000};

class PortSerial final : public ByteChannel {
  public:
    // Opens and configures the port named `name` (COMn or a device path). False when a step
    // fails: `errorText` then holds the reason, except for a refused read time-out, which
    // leaves it as it was. A port whose settings are refused is closed again.
    bool Open(std::string_view name, const platform::SerialLineSettings& settings,
              std::chrono::milliseconds readTimeout = kPortReadTimeout);
    void Close();

    bool Write(std::string_view bytes) override { return device_.Write(bytes); }
    std::optional<char> ReadByte() override { return device_.ReadByte(); }
    void DiscardInput() override { device_.DiscardInput(); }
    // Transfers are refused once `token` is cancelled; null cancels nothing.
    void SetCancelToken(platform::CancelToken* token) { device_.SetCancelToken(token); }

    std::string portName;   // the name the port was opened with
    std::string errorText;  // the last port error message
    bool isOpen = false;    // open and configured

  private:
    platform::SerialPort device_;
};

}  // namespace tillvane
