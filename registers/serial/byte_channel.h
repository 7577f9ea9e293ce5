#pragma once
// The byte stream under the serial link: the COM port in the service, a scripted fake in tests.

#include <optional>
#include <string_view>

#include "platform/error.h"

namespace tillvane {

class ByteChannel {
  public:
    virtual ~ByteChannel() = default;

    // Writes every byte, or says why the channel refused them.
    virtual platform::Error Write(std::string_view bytes) = 0;
    // One byte, or nothing when none arrived within the channel's read time-out or the read
    // failed.
    virtual std::optional<char> ReadByte() = 0;
    // Drops whatever has arrived and not been read yet.
    virtual void DiscardInput() = 0;
};

}  // namespace tillvane
