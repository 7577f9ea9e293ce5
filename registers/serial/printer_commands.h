#pragma once
// Command codes (the CMD byte) of the fiscal printer, shared by the driver and the simulator.

#include <cstdint>

namespace tillvane::printer {

inline constexpr std::uint8_t kSetup = 0x88;  // sent before the first receipt; no reply is read
inline constexpr std::uint8_t kReadParameters = 0x28;
inline constexpr std::uint8_t kSoftwareVersion = 0x80;
inline constexpr std::uint8_t kOpenReceipt = 0x63;
inline constexpr std::uint8_t kProgramItem = 0x24;
inline constexpr std::uint8_t kSellItem = 0x64;
inline constexpr std::uint8_t kPrintText = 0x61;
inline constexpr std::uint8_t kDisplayTotal = 0x6D;
inline constexpr std::uint8_t kPayment = 0x67;
inline constexpr std::uint8_t kCloseReceipt = 0x65;
inline constexpr std::uint8_t kDailyReport = 0xA1;

}  // namespace tillvane::printer
