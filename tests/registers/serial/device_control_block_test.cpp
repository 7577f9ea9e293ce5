// The Windows records that configure a COM port, and the names of its ports.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "platform/serial_port.h"
#include "platform/win32/serial_line_settings_win32.h"

namespace tillvane::platform {
namespace {

using namespace std::chrono_literals;

TEST(DeviceControlBlockTest, EightNoneOneWithDtrAndRtsRaisedAndNoFlowControl) {
    const DCB block = DeviceControlBlockFor(SerialLineSettings{19200, 8, 0, 0});
    EXPECT_EQ(block.DCBlength, 28u);
    EXPECT_EQ(block.BaudRate, 19200u);
    // fBinary, DTR_CONTROL_ENABLE and RTS_CONTROL_ENABLE: the flag word 0x1011.
    DWORD flags = 0;
    static_assert(sizeof flags == 4);
    std::memcpy(&flags, reinterpret_cast<const char*>(&block) + offsetof(DCB, BaudRate) + 4, 4);
    EXPECT_EQ(flags, 0x1011u);
    EXPECT_EQ(block.XonLim, 2048);
    EXPECT_EQ(block.XoffLim, 512);
    EXPECT_EQ(block.ByteSize, 8);
    EXPECT_EQ(block.Parity, 0);
    EXPECT_EQ(block.StopBits, 0);
    EXPECT_EQ(block.XonChar, 0x11);
    EXPECT_EQ(block.XoffChar, 0x13);
    EXPECT_EQ(block.ErrorChar, 0);
    EXPECT_EQ(block.EofChar, 0);
    EXPECT_EQ(block.EvtChar, 0);
    EXPECT_EQ(block.wReserved1, 0);
    // A speed the configuration gives as it stands, even one the port will refuse.
    EXPECT_EQ(DeviceControlBlockFor(SerialLineSettings{0, 8, 0, 0}).BaudRate, 0u);
}

TEST(DeviceControlBlockTest, OneByteReadGivesUpAfterASecondAndWritesWait) {
    COMMTIMEOUTS current{};
    current.ReadTotalTimeoutConstant = 77;
    current.WriteTotalTimeoutConstant = 88;
    const COMMTIMEOUTS set = ReadTimeoutsFor(current, 1000ms);
    EXPECT_EQ(set.ReadIntervalTimeout, 1000u);
    EXPECT_EQ(set.ReadTotalTimeoutMultiplier, 1000u);
    EXPECT_EQ(set.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(set.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(set.WriteTotalTimeoutConstant, 0u);
}

TEST(DeviceControlBlockTest, PortsFromTenOnAreNamedInTheDeviceNamespace) {
    EXPECT_EQ(SerialDevicePath("COM1"), "COM1");
    EXPECT_EQ(SerialDevicePath("com9"), "com9");
    EXPECT_EQ(SerialDevicePath("COM10"), "\\\\.\\COM10");
    EXPECT_EQ(SerialDevicePath("COM255"), "\\\\.\\COM255");
    EXPECT_EQ(SerialDevicePath("COM1x"), "COM1x");
    EXPECT_EQ(SerialDevicePath("\\\\.\\COM3"), "\\\\.\\COM3");
}

}  // namespace
}  // namespace tillvane::platform
