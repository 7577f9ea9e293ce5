#pragma once
// Line speeds that have no B constant of their own (14400, say), set through the kernel's
// termios2 interface with BOTHER. Kept apart: its kernel header clashes with <termios.h>.

#include "base/result.h"
#include "platform/error.h"

namespace tillvane::platform {

// The most the kernel may move a speed (it reports the speed the device really runs at) before
// the speed counts as refused: far inside what a serial line tolerates.
inline constexpr unsigned kMaxLineSpeedDeviationPercent = 1;

// Sets input and output speed of the terminal `fd` to `baudRate`, leaving every other setting
// as it is. Fails when the kernel refuses the call, or runs the line at another speed (EINVAL
// then, and on systems without termios2: a refused value).
Error SetArbitraryLineSpeed(int fd, unsigned baudRate);

// The output speed the kernel runs the terminal `fd` at, in bits per second.
tillvane::Result<unsigned> ReadLineSpeed(int fd);

}  // namespace tillvane::platform
