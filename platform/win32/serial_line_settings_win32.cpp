#include "platform/win32/serial_line_settings_win32.h"

namespace tillvane::platform {

namespace {
// Flow-control thresholds of the driver's queue, in bytes (unused without flow control, but
// given as the system expects them).
constexpr WORD kXonLimit = 2048;
constexpr WORD kXoffLimit = 512;
constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;
}  // namespace

DCB DeviceControlBlockFor(const SerialLineSettings& settings) {
    DCB block{};
    block.DCBlength = sizeof(DCB);
    block.BaudRate = static_cast<DWORD>(settings.baudRate);
    block.fBinary = 1;
    block.fParity = 0;
    block.fOutxCtsFlow = 0;
    block.fOutxDsrFlow = 0;
    block.fDtrControl = DTR_CONTROL_ENABLE;
    block.fDsrSensitivity = 0;
    block.fTXContinueOnXoff = 0;
    block.fOutX = 0;
    block.fInX = 0;
    block.fErrorChar = 0;
    block.fNull = 0;
    block.fRtsControl = RTS_CONTROL_ENABLE;
    block.fAbortOnError = 0;
    block.XonLim = kXonLimit;
    block.XoffLim = kXoffLimit;
    block.ByteSize = static_cast<BYTE>(settings.byteSize);
    block.Parity = static_cast<BYTE>(settings.parity);
    block.StopBits = static_cast<BYTE>(settings.stopBits);
    block.XonChar = kXonChar;
    block.XoffChar = kXoffChar;
    return block;
}

COMMTIMEOUTS ReadTimeoutsFor(COMMTIMEOUTS current, std::chrono::milliseconds timeout) {
    const auto milliseconds = static_cast<DWORD>(timeout.count());
    current.ReadIntervalTimeout = milliseconds;
    current.ReadTotalTimeoutMultiplier = milliseconds;
    current.ReadTotalTimeoutConstant = 0;
    current.WriteTotalTimeoutMultiplier = 0;
    current.WriteTotalTimeoutConstant = 0;
    return current;
}

}  // namespace tillvane::platform
