#include "registers/serial/port_serial.h"

#include "platform/tcp_connection.h"
#include "registers/serial/network_port_name.h"

namespace tillvane {

std::string PortOpenFailureText(std::string_view name, const platform::Error& error) {
    const std::string port = "Port " + std::string(name);
    if (IsNetworkPortName(name)) {
        return error.valueRefused() ? port + " is not tcp://<host>:<port>"
                                    : port + " cannot be opened: " + error.text();
    }
    if (error.valueRefused()) {
        return "Eroare " + std::to_string(error.code()) +
               " la la setare parametrii specificati in DCB";
    }
    return error.nameMissing() ? port + " missing: " + error.text()
                               : "Eroare : " + port + " inaccesibil";
}

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
    if (!opened.ok()) return opened;
    platform::Error configured = serial->ApplyLineSettings(settings);
    if (configured.ok()) configured = serial->ApplyReadTimeout(readTimeout);
    // Only a value the port does not take is a settings problem; any other refusal comes from
    // a device that is not there (a name the system keeps for an absent adapter).
    if (!configured.ok() && !configured.valueRefused()) {
        return configured.As(platform::ErrorKind::nameMissing);
    }
    if (!configured.ok()) return configured;
    device_ = std::move(serial);
    return {};
}

platform::Error PortSerial::ConnectToPrinter(std::chrono::milliseconds readTimeout) {
    const Result<NetworkAddress> address = ParseNetworkPortName(portName);
    if (!address) {
        // Written wrong, it stays wrong: the driver does not try it again.
        return platform::Error::Message("not tcp://<host>:<port>")
            .As(platform::ErrorKind::valueRefused);
    }
    auto connection = std::make_unique<platform::TcpConnection>();
    platform::Error connected =
        connection->Connect(address->host, address->port, kPortConnectTimeout);
    if (connected.ok()) connected = connection->ApplyReadTimeout(readTimeout);
    if (!connected.ok()) return connected;
    device_ = std::move(connection);
    return {};
}

void PortSerial::Close() {
    device_.reset();
    isOpen = false;
}

bool PortSerial::CheckLine() {
    if (!isOpen) return false;
    const platform::Error line = device_->CheckLine();
    if (!line.ok()) Lose(line);
    return line.ok();
}

platform::Error PortSerial::Write(std::string_view bytes) {
    if (!isOpen) return platform::Error::Message("port " + portName + " is not open");
    if (Refused()) return platform::Error::Message("transfer cancelled");
    const platform::Error written = device_->Write(bytes);
    if (!written.ok()) Lose(written);
    return written;
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
    if (log_ != nullptr) log_->Write("Port " + portName + " lost: " + why.text());
}

}  // namespace tillvane
