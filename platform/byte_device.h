#pragma once
// A device the printer's link talks to byte by byte: a serial port or a network connection.
// The link does not know which; each says why a transfer failed, and a failure other than a
// read time-out means the device went away.

#include <chrono>
#include <optional>
#include <string_view>

#include "platform/error.h"

namespace tillvane::platform {

class ByteDevice {
  public:
    virtual ~ByteDevice() = default;

    // A one-byte read gives up after `timeout` without a byte.
    virtual Error ApplyReadTimeout(std::chrono::milliseconds timeout) = 0;
    virtual void Close() = 0;
    virtual bool isOpen() const = 0;
    // Writes all of `bytes`.
    virtual Error Write(std::string_view bytes) = 0;
    // One byte, or nothing: when the read time-out passed `error` is ok, when the read failed
    // (the device is gone, the other end hung up) it says why.
    virtual std::optional<char> ReadByte(Error& error) = 0;
    // Drops the bytes received and not read yet.
    virtual void DiscardInput() = 0;
    // Ok while the device is still there, as far as the system tells without a transfer.
    virtual Error CheckLine() = 0;
};

}  // namespace tillvane::platform
