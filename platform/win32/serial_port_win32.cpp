// A COM port opened with CreateFileA: exclusive (share mode 0), synchronous reads and writes.

#include <algorithm>
#include <array>

#include "platform/serial_port.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/serial_line_settings_win32.h"
#include "platform/win32/windows_error.h"

namespace tillvane::platform {

namespace {

// COM1 to COM9 have names of their own; the others only in the device namespace.
constexpr int kFirstDeviceNamespacePort = 10;
constexpr std::string_view kDeviceNamespace = "\\\\.\\";
// Where the system lists its serial ports: one value per port, its data the port's name.
constexpr const char* kSerialPortListKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Longest value name and port name read from that list.
constexpr DWORD kMaxRegistryText = 256;

Error WindowsError(DWORD code, ErrorKind kind = ErrorKind::other) {
    return Error(static_cast<int>(code), WindowsErrorText(code), kind);
}

}  // namespace

std::string SerialDevicePath(std::string_view portName) {
    const std::optional<int> number = ComPortNumber(portName);
    if (number && *number >= kFirstDeviceNamespacePort) {
        return std::string(kDeviceNamespace) + std::string(portName);
    }
    return std::string(portName);
}

struct SerialPort::Device {
    ScopedHandle handle;
};

// Names are used as they are: Windows port names have no patterns.
std::vector<std::string> ExpandSerialPortPatterns(const std::vector<std::string>& patterns) {
    std::vector<std::string> names;
    for (const std::string& name : patterns) AddPortNameOnce(names, name);
    return names;
}

std::vector<std::string> SystemSerialPortPatterns() {
    std::vector<std::string> ports;
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialPortListKey, /*ulOptions=*/0, KEY_READ,
                        &opened) != ERROR_SUCCESS) {
        return ports;
    }
    const ScopedRegistryKey key(opened);
    for (DWORD index = 0;; ++index) {
        std::array<char, kMaxRegistryText> valueName{};
        std::array<char, kMaxRegistryText> data{};
        DWORD nameLength = kMaxRegistryText;
        DWORD dataLength = kMaxRegistryText - 1;  // room for the terminator the data may lack
        DWORD type = 0;
        const LONG result = ::RegEnumValueA(key.get(), index, valueName.data(), &nameLength,
                                            /*lpReserved=*/nullptr, &type,
                                            reinterpret_cast<BYTE*>(data.data()), &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        ports.emplace_back(data.data());
    }
    // COM2 before COM10: by length, then by name.
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return ports;
}

SerialPort::SerialPort() = default;
SerialPort::~SerialPort() = default;

Error SerialPort::Open(const std::string& devicePath) {
    Close();
    ScopedHandle handle(::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                                      OPEN_EXISTING, /*dwFlagsAndAttributes=*/0,
                                      /*hTemplateFile=*/nullptr));
    if (!handle.valid()) return LastSystemError();
    device_ = std::make_unique<Device>(Device{std::move(handle)});
    return {};
}

Error SerialPort::ApplyLineSettings(const SerialLineSettings& settings) {
    if (!device_) return WindowsError(ERROR_INVALID_HANDLE);
    DCB block = DeviceControlBlockFor(settings);
    if (!::SetCommState(device_->handle.get(), &block)) {
        const DWORD code = ::GetLastError();
        return WindowsError(
            code, code == ERROR_INVALID_PARAMETER ? ErrorKind::valueRefused : ErrorKind::other);
    }
    return {};
}

Error SerialPort::ApplyReadTimeout(std::chrono::milliseconds timeout) {
    if (!device_) return WindowsError(ERROR_INVALID_HANDLE);
    COMMTIMEOUTS current{};
    ::GetCommTimeouts(device_->handle.get(), &current);
    COMMTIMEOUTS wanted = ReadTimeoutsFor(current, timeout);
    if (!::SetCommTimeouts(device_->handle.get(), &wanted)) return LastSystemError();
    readTimeout_ = timeout;
    return {};
}

void SerialPort::Close() {
    device_.reset();
}

Error SerialPort::Write(std::string_view bytes) {
    if (!device_) return WindowsError(ERROR_INVALID_HANDLE);
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!::WriteFile(device_->handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                         &written, /*lpOverlapped=*/nullptr)) {
            return LastSystemError();
        }
        // A write that takes nothing would repeat for ever.
        if (written == 0) return WindowsError(ERROR_WRITE_FAULT);
        bytes.remove_prefix(written);
    }
    return {};
}

// A read that waited out its time-out succeeds with no byte; a failed one (the adapter was
// removed: ERROR_DEVICE_NOT_CONNECTED, ERROR_GEN_FAILURE, ERROR_ACCESS_DENIED, …) says why.
std::optional<char> SerialPort::ReadByte(Error& error) {
    error = {};
    if (!device_) {
        error = WindowsError(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    char byte = 0;
    DWORD count = 0;
    if (!::ReadFile(device_->handle.get(), &byte, 1, &count, /*lpOverlapped=*/nullptr)) {
        error = LastSystemError();
        return std::nullopt;
    }
    if (count == 1) return byte;
    return std::nullopt;
}

void SerialPort::DiscardInput() {
    if (device_) ::PurgeComm(device_->handle.get(), PURGE_RXCLEAR);
}

// The driver of a removed adapter refuses the port's status.
Error SerialPort::CheckLine() {
    if (!device_) return WindowsError(ERROR_INVALID_HANDLE);
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(device_->handle.get(), &errors, &status)) return LastSystemError();
    return {};
}

}  // namespace tillvane::platform
