// A COM port opened with CreateFileA: exclusive (share mode 0), synchronous reads and writes.

#include <algorithm>
#include <charconv>

#include "base/text_split.h"
#include "platform/serial_port.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/serial_line_settings_win32.h"

namespace tillvane::platform {

namespace {

constexpr std::string_view kComPrefix = "COM";
// COM1 to COM9 have names of their own; the others only in the device namespace.
constexpr int kFirstDeviceNamespacePort = 10;
constexpr std::string_view kDeviceNamespace = "\\\\.\\";

}  // namespace

std::string SerialDevicePath(std::string_view portName) {
    if (portName.size() > kComPrefix.size() &&
        EqualsIgnoringCase(portName.substr(0, kComPrefix.size()), kComPrefix)) {
        const std::string_view digits = portName.substr(kComPrefix.size());
        int number = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error == std::errc{} && end == digits.data() + digits.size() &&
            number >= kFirstDeviceNamespacePort) {
            return std::string(kDeviceNamespace) + std::string(portName);
        }
    }
    return std::string(portName);
}

struct SerialPort::Device {
    ScopedHandle handle;
};

SerialPort::SerialPort() = default;
SerialPort::~SerialPort() = default;

bool SerialPort::Open(const std::string& devicePath) {
    Close();
    ScopedHandle handle(::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                                      OPEN_EXISTING, /*dwFlagsAndAttributes=*/0,
                                      /*hTemplateFile=*/nullptr));
    if (!handle.valid()) {
        lastError_ = static_cast<int>(::GetLastError());
        return false;
    }
    device_ = std::make_unique<Device>(Device{std::move(handle)});
    return true;
}

bool SerialPort::ApplyLineSettings(const SerialLineSettings& settings) {
    if (!device_) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    DCB block = DeviceControlBlockFor(settings);
    if (!::SetCommState(device_->handle.get(), &block)) {
        lastError_ = static_cast<int>(::GetLastError());
        return false;
    }
    return true;
}

bool SerialPort::ApplyReadTimeout(std::chrono::milliseconds timeout) {
    if (!device_) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    COMMTIMEOUTS current{};
    ::GetCommTimeouts(device_->handle.get(), &current);
    COMMTIMEOUTS wanted = ReadTimeoutsFor(current, timeout);
    if (!::SetCommTimeouts(device_->handle.get(), &wanted)) {
        lastError_ = static_cast<int>(::GetLastError());
        return false;
    }
    return true;
}

void SerialPort::Close() {
    device_.reset();
}

bool SerialPort::isOpen() const {
    return device_ != nullptr;
}

bool SerialPort::Write(std::string_view bytes) {
    if (!device_ || Refused()) return false;
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!::WriteFile(device_->handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                         &written, /*lpOverlapped=*/nullptr)) {
            lastError_ = static_cast<int>(::GetLastError());
            return false;
        }
        // A write that takes nothing would repeat for ever.
        if (written == 0) {
            lastError_ = ERROR_WRITE_FAULT;
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

std::optional<char> SerialPort::ReadByte() {
    if (!device_ || Refused()) return std::nullopt;
    char byte = 0;
    DWORD count = 0;
    if (!::ReadFile(device_->handle.get(), &byte, 1, &count, /*lpOverlapped=*/nullptr)) {
        lastError_ = static_cast<int>(::GetLastError());
        return std::nullopt;
    }
    if (count == 1) return byte;
    return std::nullopt;
}

void SerialPort::DiscardInput() {
    if (device_) ::PurgeComm(device_->handle.get(), PURGE_RXCLEAR);
}

}  // namespace tillvane::platform
