#pragma once
// Line speeds that have no B constant of their own (14400, say), set through the kernel's
// termios2 interface with BOTHER. Kept apart: its kernel header clashes with <termios.h>.

namespace tillvane::platform {

// The most the kernel may move a speed (it reports the speed the device really runs at) before
// the speed counts as refused: far inside what a serial line tolerates.
inline constexpr unsigned kMaxLineSpeedDeviationPercent = 1;

// Sets input and output speed of the terminal `fd` to `baudRate`, leaving every other setting
// as it is. False, with the system's code in `error`, when the kernel refuses the call or runs
// the line at another speed (EINVAL then); also EINVAL on systems without termios2.
bool SetArbitraryLineSpeed(int fd, unsigned baudRate, int& error);

// The output speed the kernel runs the terminal `fd` at, in bits per second. False, with the
// system's code in `error`, when it cannot be read.
bool ReadLineSpeed(int fd, unsigned& baudRate, int& error);

}  // namespace tillvane::platform
