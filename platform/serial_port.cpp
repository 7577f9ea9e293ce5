// What the serial ports of both systems share: the COMn names and the port lists.

#include "platform/serial_port.h"

#include <algorithm>
#include <charconv>

#include "base/text_split.h"

namespace tillvane::platform {

namespace {

constexpr std::string_view kComPrefix = "COM";

}  // namespace

std::optional<int> ComPortNumber(std::string_view portName) {
    if (portName.size() <= kComPrefix.size() ||
        !EqualsIgnoringCase(portName.substr(0, kComPrefix.size()), kComPrefix)) {
        return std::nullopt;
    }
    const std::string_view digits = portName.substr(kComPrefix.size());
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc{} || end != digits.data() + digits.size() || number < 1) {
        return std::nullopt;
    }
    return number;
}

void AddPortNameOnce(std::vector<std::string>& names, std::string name) {
    if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(std::move(name));
}

bool SerialPort::isOpen() const {
    return device_ != nullptr;
}

}  // namespace tillvane::platform
