#pragma once
// The settings of the service, read once from its configuration file. The lists (addresses,
// host names, origins) stay the text the file gives: whoever applies them parses them.

#include <array>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
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

// The keys read here. The access keys decide who may print: one that is misspelt must never
// leave the server open as if it were not set.
inline constexpr std::string_view kTcpPortKey = "tcpPort";
inline constexpr std::string_view kDebugModeKey = "DebugMode";
inline constexpr std::string_view kMaxCommandLinesKey = "maxCommandLines";
inline constexpr std::string_view kRequestIdDaysKey = "requestIdDays";
inline constexpr std::string_view kJournalDaysKey = "journalDays";
inline constexpr std::string_view kReceiptWaitAlertSecondsKey = "receiptWaitAlertSeconds";
inline constexpr std::string_view kListenAddressKey = "listenAddress";
inline constexpr std::string_view kAllowedClientsKey = "allowedClients";
inline constexpr std::string_view kAllowedHostsKey = "allowedHosts";
inline constexpr std::string_view kAllowedOriginsKey = "allowedOrigins";
inline constexpr std::string_view kApiTokensKey = "apiTokens";
inline constexpr std::array kAccessKeys = {kApiTokensKey, kAllowedClientsKey, kAllowedOriginsKey,
                                           kAllowedHostsKey, kListenAddressKey};
inline constexpr std::array kServiceKeys = {
    kTcpPortKey,        kDebugModeKey,      kMaxCommandLinesKey,
    kRequestIdDaysKey,  kJournalDaysKey,    kReceiptWaitAlertSecondsKey,
    kListenAddressKey,  kAllowedClientsKey, kAllowedHostsKey,
    kAllowedOriginsKey, kApiTokensKey};
// Most edits between an unknown key and an access key for it to count as that key misspelt.
inline constexpr std::size_t kMaxAccessKeyTypoDistance = 2;

// An unknown key written like an access key ("apiToken", "allowed_Clients", "apiTokens2").
struct MisspeltAccessKey {
    std::string key;  // as written
    std::string_view accessKey;
};

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
    // The first such key of the file; the server must not start with it.
    std::optional<MisspeltAccessKey> misspeltAccessKey;
};

// Reads the file at `path`; why not, logged too, when it cannot be loaded. A number that
// is refused is logged and its default used. Every key that is neither one of kServiceKeys nor
// of `otherKeys` (the drivers' keys) is logged once, with the known key nearest to it, except
// a misspelt access key, which is kept in misspeltAccessKey for the caller to refuse.
Result<Settings> ReadSettings(const std::string& path, const SettingLog& log,
                              std::span<const std::string_view> otherKeys);

}  // namespace tillvane
