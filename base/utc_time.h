#pragma once
// Universal time as the journal writes it, independent of the system's time zone and locale:
// "2026-12-08T08:01:46.123Z" in records, "20261208T080146Z" in file names.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tillvane {

inline constexpr std::int64_t kSecondsPerDay = 86400;

// Milliseconds since 1970-01-01 00:00:00 UTC, from the system clock.
std::int64_t UnixMillisNow();

std::string FormatUtcMillis(std::int64_t unixMillis);
Result<std::int64_t> ParseUtcMillis(std::string_view text);

// The compact form for file names, to the second.
inline constexpr std::size_t kUtcStampLength = 16;
std::string FormatUtcStamp(std::int64_t unixMillis);
Result<std::int64_t> ParseUtcStamp(std::string_view text);

// "2026-12-08T08:01:46Z", to the second, as the status reports times.
std::string FormatUtcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace tillvane
