#pragma once
// The settings of the service, read once from its configuration file. The lists (addresses,
// host names, origins) stay the text the file gives: whoever applies them parses them.

#include <chrono>
#include <optional>
#include <string>

#include "base/utc_time.h"
#include "config/setting_values.h"

namespace tillvane {

// Lines a command text may hold (maxCommandLines); a longer text is refused before any line
// runs, so that one request cannot hold the printer for hours.
inline constexpr int kDefaultMaxCommandLines = 1000;
// How long request ids are remembered and journal files kept, by default and at most.
inline constexpr double kDefaultRequestIdDays = 7;
inline constexpr double kDefaultJournalDays = 90;
inline constexpr double kMaxRetentionDays = 36500;
inline constexpr int kDefaultReceiptWaitAlertSeconds = 120;

struct Settings {
    int tcpPort = 0;
    bool debugMode = false;
    int maxCommandLines = kDefaultMaxCommandLines;
    // requestIdDays and journalDays, fractions of a day allowed.
    std::chrono::seconds idRetention{
        static_cast<long long>(kDefaultRequestIdDays * kSecondsPerDay)};
    std::chrono::seconds journalRetention{
        static_cast<long long>(kDefaultJournalDays * kSecondsPerDay)};
    // receiptWaitAlertSeconds: from this age of the oldest receipt file the printer's software
    // has not taken, the status warns; 0 never does.
    std::chrono::seconds receiptWaitAlert{kDefaultReceiptWaitAlertSeconds};
    // As written; empty when the file names none.
    std::string listenAddress;
    std::string allowedClients;
    std::string allowedHosts;
    std::string allowedOrigins;
    std::string apiTokens;
};

// Reads the file at `path`; nothing, with a log entry, when it cannot be loaded. A number that
// is refused is logged and its default used.
std::optional<Settings> ReadSettings(const std::string& path, const SettingLog& log);

}  // namespace tillvane
