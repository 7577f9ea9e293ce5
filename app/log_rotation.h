#pragma once
// The application log and the request log stay bounded on disk: a log that an entry would take
// past its size is moved aside under a name with the time of the move, as the request journal
// is ("Tillvane_se-20261208T080146Z.log"), and only the newest moved-aside files are kept.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tillvane {

// A log moves aside once an entry would take it past this size.
inline constexpr std::uint64_t kLogRotateBytes = 4 * 1024 * 1024;
// Moved-aside files kept per log; the oldest beyond them are removed.
inline constexpr std::size_t kKeptRotatedLogs = 4;

struct LogRotation {
    std::uint64_t rotateBytes = kLogRotateBytes;
    std::size_t keptFiles = kKeptRotatedLogs;
};

// Moves the log at `path` aside when `entryBytes` more would take it past the rotation size,
// and removes the oldest moved-aside files beyond the kept ones. A move that fails leaves the
// log growing: an entry lost would be worse.
void RotateLogWhenFull(const std::string& path, std::uint64_t entryBytes,
                       const LogRotation& rotation = {});

}  // namespace tillvane
