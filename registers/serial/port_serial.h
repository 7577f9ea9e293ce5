#pragma once
// The serial driver's port: a COM port opened and configured, or a connection to a printer on
// the network (tcp://host:port), then the byte stream of the link. A transfer that fails for a
// reason other than a time-out means the device went away (an adapter unplugged, a printer
// switched off with its USB port, a connection the printer reset or closed): the port closes
// itself, says so in the register log and remembers when, so that the next request can open
// it again.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/byte_device.h"
#include "platform/cancel_token.h"
#include "platform/error.h"
#include "platform/serial_port.h"
#include "registers/register_log.h"
#include "registers/serial/byte_channel.h"

namespace tillvane {

// A one-byte read gives up after this long without a byte.
inline constexpr std::chrono::milliseconds kPortReadTimeout{1000};
// A printer on the network that has not taken the connection after this long is unreachable.
inline constexpr std::chrono::milliseconds kPortConnectTimeout{3000};

// The register log's words for `error`, a failure of PortSerial::Open(`name`): "Port <name>
// missing: <why>" for a device that is not there, the settings message for a refused line
// setting, "Eroare : Port <name> inaccesibil" for one that cannot be opened otherwise, "Port
// <name> is not tcp://<host>:<port>" for a network name written wrong and "Port <name> cannot
// be opened: <why>" for a printer on the network that could not be reached.
std::string PortOpenFailureText(std::string_view name, const platform::Error& error);

class PortSerial final : public ByteChannel {
  public:
    // Losses are written to `log` when given; it must outlive the port.
    explicit PortSerial(const RegisterLog* log = nullptr) : log_(log) {}

    // Opens and configures the port named `name` (COMn, a device path or tcp://host:port) and
    // says why it could not: nameMissing for a device that is not there or does not work as a
    // serial port, valueRefused for line settings the port refuses or a network name written
    // wrong, the system's failure otherwise (another program holds the port, a printer on the
    // network could not be reached). A port that cannot be configured is closed again. The
    // line settings do not apply to a network printer.
    platform::Error Open(std::string_view name, const platform::SerialLineSettings& settings,
                         std::chrono::milliseconds readTimeout = kPortReadTimeout);
    void Close();
    // True while the device is still there as far as the system tells without a transfer;
    // otherwise the port is closed as lost.
    bool CheckLine();

    // Refused on a closed port and once the cancel token is; a failed write loses the port.
    platform::Error Write(std::string_view bytes) override;
    std::optional<char> ReadByte() override;
    void DiscardInput() override {
        if (device_) device_->DiscardInput();
    }
    // Transfers are refused once `token` is cancelled; null cancels nothing. A refused
    // transfer is no loss of the port.
    void SetCancelToken(platform::CancelToken* token) { cancelToken_ = token; }

    std::string portName;  // the name the port was opened with
    bool isOpen = false;   // open and configured
    // Since when the port has been lost, or could not be opened; none while it is open.
    std::optional<std::chrono::system_clock::time_point> lostAt;
    std::uint64_t losses = 0;  // open ports that went away

  private:
    // True, and counted on the token, when the transfer must not happen.
    bool Refused() { return cancelToken_ != nullptr && cancelToken_->Refuse(); }
    // The device went away: "Port <name> lost: <why>".
    void Lose(const platform::Error& why);
    platform::Error OpenSerialPort(const platform::SerialLineSettings& settings,
                                   std::chrono::milliseconds readTimeout);
    platform::Error ConnectToPrinter(std::chrono::milliseconds readTimeout);

    const RegisterLog* log_;
    std::unique_ptr<platform::ByteDevice> device_;
    platform::CancelToken* cancelToken_ = nullptr;
};

}  // namespace tillvane
