#include "config/settings.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/numbers.h"
#include "base/text_split.h"
#include "config/ini_loader.h"
#include "config/key_check.h"

namespace tillvane {

namespace {

// A retention in days (fractions allowed), in whole seconds rounded up: an id or a journal
// file is never dropped before the time the shop asked for.
std::chrono::seconds RetentionSetting(const INILoader& configuration, std::string_view key,
                                      double defaultDays, const SettingLog& log) {
    const double days = ReadDaysSetting(configuration, key, defaultDays, kMaxRetentionDays, log);
    return std::chrono::seconds(
        std::max(1LL, static_cast<long long>(std::ceil(days * kSecondsPerDay))));
}

// The access key that the unknown `key` is written like, or empty: near it, or holding it whole.
std::string_view AccessKeyLookalike(std::string_view key) {
    const std::string folded = ToLowerAscii(key);
    for (const std::string_view accessKey : kAccessKeys) {
        if (folded.find(ToLowerAscii(accessKey)) != std::string::npos) return accessKey;
    }
    return NearestKey(key, kAccessKeys, kMaxAccessKeyTypoDistance);
}

void CheckKeys(const INILoader& configuration, std::span<const std::string_view> otherKeys,
               const SettingLog& log, Settings& settings) {
    std::vector<std::string_view> known(kServiceKeys.begin(), kServiceKeys.end());
    known.insert(known.end(), otherKeys.begin(), otherKeys.end());
    for (UnknownKey& unknown : UnknownKeys(configuration, known)) {
        const std::string_view accessKey = AccessKeyLookalike(unknown.key);
        if (!accessKey.empty()) {
            if (!settings.misspeltAccessKey) {
                settings.misspeltAccessKey = MisspeltAccessKey{std::move(unknown.key), accessKey};
            }
            continue;
        }
        std::string entry = "Unknown key [" + unknown.key + "] ignored";
        if (!unknown.nearest.empty()) {
            entry += "; did you mean " + std::string(unknown.nearest) + "?";
        }
        log(entry);
    }
}

}  // namespace

Result<Settings> ReadSettings(const std::string& path, const SettingLog& log,
                              std::span<const std::string_view> otherKeys) {
    INILoader configuration;
    if (const platform::Error error = configuration.Load(path); !error.ok()) {
        const platform::Error unread =
            error.Within("Nu pot incarca fisierul de configurari [" + path + "]");
        log(unread.text());
        return unread;
    }
    Settings settings;
    CheckKeys(configuration, otherKeys, log, settings);
    std::string value;
    configuration.GetValue(value, kTcpPortKey);
    settings.tcpPort = ParseDecimalInt(value);
    configuration.GetValue(value, kDebugModeKey);
    settings.debugMode = ParseDecimalInt(value) != 0;
    settings.maxCommandLines =
        ReadCountSetting(configuration, kMaxCommandLinesKey, kDefaultMaxCommandLines, log);
    configuration.GetValue(settings.allowedOrigins, kAllowedOriginsKey);
    settings.idRetention =
        RetentionSetting(configuration, kRequestIdDaysKey, kDefaultRequestIdDays, log);
    settings.journalRetention =
        RetentionSetting(configuration, kJournalDaysKey, kDefaultJournalDays, log);
    const int waitAlert = ReadSecondsSetting(configuration, kReceiptWaitAlertSecondsKey,
                                             kDefaultReceiptWaitAlertSeconds, log);
    settings.receiptWaitAlert = std::chrono::seconds(waitAlert);
    configuration.GetValue(settings.listenAddress, kListenAddressKey);
    configuration.GetValue(settings.allowedClients, kAllowedClientsKey);
    configuration.GetValue(settings.allowedHosts, kAllowedHostsKey);
    configuration.GetValue(settings.apiTokens, kApiTokensKey);
    return settings;
}

}  // namespace tillvane
