#include "registers/serial/port_serial.h"

namespace tillvane {

platform::Error PortSerial::Open(std::string_view name,
                                 const platform::SerialLineSettings& settings,
                                 std::chrono::milliseconds readTimeout) {
    Close();
    portName.assign(name);
    const auto failed = [this](platform::Error why) {
        // A port this program cannot use is left to the others.
        device_.Close();
        if (!lostAt) lostAt = std::chrono::system_clock::now();
        return why;
    };
    const platform::Error opened = device_.Open(platform::SerialDevicePath(portName));
    if (!opened.ok()) {
        errorText = opened.nameMissing() ? "Port " + portName + " missing: " + opened.text()
                                         : "Eroare : Port " + portName + " inaccesibil";
        return failed(opened);
    }
    const platform::Error configured = device_.ApplyLineSettings(settings);
    if (!configured.ok()) {
        // Only a value the port does not take is a settings problem; any other refusal comes
        // from a device that is not there (a name the system keeps for an absent adapter).
        errorText = configured.valueRefused()
                        ? "Eroare " + std::to_string(configured.code()) +
                              " la la setare parametrii specificati in DCB"
                        : "Port " + portName + " missing: " + configured.text();
        return failed(configured);
    }
    const platform::Error timed = device_.ApplyReadTimeout(readTimeout);
    if (!timed.ok()) return failed(timed);
    isOpen = true;
    lostAt.reset();
    return {};
}

void PortSerial::Close() {
    device_.Close();
    isOpen = false;
}

bool PortSerial::SetReadTimeout(std::chrono::milliseconds timeout) {
    return device_.ApplyReadTimeout(timeout).ok();
}

bool PortSerial::CheckLine() {
    if (!isOpen) return false;
    const platform::Error line = device_.CheckLine();
    if (!line.ok()) Lose(line);
    return line.ok();
}

bool PortSerial::Write(std::string_view bytes) {
    if (!isOpen || Refused()) return false;
    const platform::Error written = device_.Write(bytes);
    if (!written.ok()) Lose(written);
    return written.ok();
}

std::optional<char> PortSerial::ReadByte() {
    if (!isOpen || Refused()) return std::nullopt;
    platform::Error failure;
    const std::optional<char> byte = device_.ReadByte(failure);
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
