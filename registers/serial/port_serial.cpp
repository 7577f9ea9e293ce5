#include "registers/serial/port_serial.h"

namespace tillvane {

bool PortSerial::Open(std::string_view name, const platform::SerialLineSettings& settings,
                      std::chrono::milliseconds readTimeout) {
    Close();
    portName.assign(name);
    if (!device_.Open(platform::SerialDevicePath(portName))) {
        errorText = "Eroare : Port " + portName + " inaccesibil";
        return false;
    }
    if (!device_.ApplyLineSettings(settings)) {
        errorText = "Eroare " + std::to_string(device_.lastError()) +
                    " la la setare parametrii specificati in DCB";
        // A port this program cannot use is left to the others.
        device_.Close();
        return false;
    }
    if (!device_.ApplyReadTimeout(readTimeout)) {
        device_.Close();
        return false;
    }
    isOpen = true;
    return true;
}

void PortSerial::Close() {
    device_.Close();
    isOpen = false;
}

}  // namespace tillvane
