#pragma once
// A new pseudo-terminal for a simulated serial device: this program holds the controlling
// side, and the path of the other side is what a serial driver opens as its port.

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace tillvane::simulator {

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { Close(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the terminal in raw mode. False when the system has none to give.
    bool Open() {
        Close();
        controller_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (controller_ < 0 || grantpt(controller_) != 0 || unlockpt(controller_) != 0) {
            Close();
            return false;
        }
        const char* name = ptsname(controller_);
        if (name == nullptr) {
            Close();
            return false;
        }
        path_ = name;
        // Holding the device side open ourselves keeps the controller from reading a hang-up
        // while no driver has it open, e.g. between two runs of the service.
        keeper_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios options{};
        if (keeper_ < 0 || tcgetattr(controller_, &options) != 0) {
            Close();
            return false;
        }
        cfmakeraw(&options);
        if (tcsetattr(controller_, TCSANOW, &options) != 0) {
            Close();
            return false;
        }
        return true;
    }

    void Close() {
        if (keeper_ >= 0) close(keeper_);
        if (controller_ >= 0) close(controller_);
        keeper_ = controller_ = -1;
        path_.clear();
    }

    // The controlling side: what is written here arrives at the device side and back.
    int fd() const { return controller_; }
    // Path of the device side, e.g. /dev/pts/3.
    const std::string& path() const { return path_; }

  private:
    int controller_ = -1;
    int keeper_ = -1;
    std::string path_;
};

}  // namespace tillvane::simulator
