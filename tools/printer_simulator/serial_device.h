#pragma once
// A real serial line for the simulator: raw 8N1 at the given speed, no flow control.

#include <string>

namespace tillvane::simulator {

class SerialDevice {
  public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // False, with errno set, when the device cannot be opened or configured.
    bool Open(const std::string& path, int baudRate);
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

}  // namespace tillvane::simulator
