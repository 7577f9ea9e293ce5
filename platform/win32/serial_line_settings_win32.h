#pragma once
// The records that configure a Windows COM port, filled from the line settings: kept apart
// from the port so that their values can be checked without a port.

#include <chrono>

#include "platform/serial_port.h"
#include "platform/win32/windows_api.h"

namespace tillvane::platform {

// The device control block: binary mode, no parity checking, no hardware or software flow
// control, DTR and RTS raised.
DCB DeviceControlBlockFor(const SerialLineSettings& settings);

// `current` with the read time-out set so that a one-byte read gives up after `timeout`, and
// no write time-out.
COMMTIMEOUTS ReadTimeoutsFor(COMMTIMEOUTS current, std::chrono::milliseconds timeout);

}  // namespace tillvane::platform
