#include "registers/serial/port_serial.h"

#include "platform/tcp_connection.h"
#include "registers/serial/network_port_name.h"

namespace tillvane {

platform::Error PortSerial::Open(std::string_view name,
                                 const platform::SerialLineSettings& settings,
                                 std::chrono::milliseconds readTimeout) {
    Close();
    portName.assign(name);
    const platform::Error opened = IsNetworkPortName(portName)
                                       ? ConnectToPrinter(readTimeout)
                                       : OpenSerialPort(settings, readTimeout);
    if (!opened.ok()) {
        // A port this program cannot use is left to the others.
        device_.reset();
        if (!lostAt) lostAt = std::chrono::system_clock::now();
        return opened;
    }
    isOpen = true;
    lostAt.reset();
    return {};
}

platform::Error PortSerial::OpenSerialPort(const platform::SerialLineSettings& settings,
                                           std::chrono::milliseconds readTimeout) {
    auto serial = std::make_unique<platform::SerialPort>();
    const platform::Error opened = serial->Open(platform::SerialDevicePath(portName));
    if (!opened.ok()) {
        errorText = opened.nameMissing() ? "Port " + portName + " missing: " + opened.text()
                                         : "Eroare : Port " + portName + " inaccesibil";
        return opened;
    }
    const platform::Error configured = serial->ApplyLineSettings(settings);
    if (!configured.ok()) {
        // Only a value the port does not take is a settings problem; any other refusal comes
        // from a device that is not there (a name the system keeps for an absent adapter).
        errorText = configured.valueRefused()
                        ? "Eroare " + std::to_string(configured.code()) +
                              " la la setare parametrii specificati in DCB"
                        : "Port " + portName + " missing: " + configured.text();
        return configured;
    }
    const platform::Error timed = serial->ApplyReadTimeout(readTimeout);
    if (!timed.ok()) return timed;
    device_ = std::move(serial);
    return {};
}

platform::Error PortSerial::ConnectToPrinter(std::chrono::milliseconds readTimeout) {
    const Result<NetworkAddress> address = ParseNetworkPortName(portName);
    if (!address) {
        // Written wrong, it stays wrong: the driver does not try it again.
        errorText = "Port " + portName + " is not tcp://<host>:<port>";
        return platform::Error::Message("not tcp://<host>:<port>")
            .As(platform::ErrorKind::valueRefused);
    }
    auto connection = std::make_unique<platform::TcpConnection>();
    platform::Error connected =
        connection->Connect(address->host, address->port, kPortConnectTimeout);
    if (connected.ok()) connected = connection->ApplyReadTimeout(readTimeout);
    if (!connected.ok()) {
        errorText = "Port " + portName + " cannot be opened: " + connected.text();
        return connected;
    }
    device_ = std::move(connection);
    return {};
}

void PortSerial::Close() {
    device_.reset();
    isOpen = false;
}

bool PortSerial::SetReadTimeout(std::chrono::milliseconds timeout) {
    return device_ && device_->ApplyReadTimeout(timeout).ok();
}

bool PortSerial::CheckLine() {
    if (!isOpen) return false;
    const platform::Error line = device_->CheckLine();
    if (!line.ok()) Lose(line);
    return line.ok();
}

bool PortSerial::Write(std::string_view bytes) {
    if (!isOpen || Refused()) return false;
    const platform::Error written = device_->Write(bytes);
    if (!written.ok()) Lose(written);
    return written.ok();
}

std::optional<char> PortSerial::ReadByte() {
    if (!isOpen || Refused()) return std::nullopt;
    platform::Error failure;
    const std::optional<char> byte = device_->ReadByte(failure);
    if (!failure.ok()) Lose(failure);
    return byte;
}

void PortSerial::Lose(const platform::Error& why) {
    Close();
    ++losses;
    lostAt = std::chrono::system_clock::now();
    errorText = "Port " + portName + " lost: " + why.text();
    if (log_ != nullptr) log_->Write(errorText);
}

}  // namespace tillvane
