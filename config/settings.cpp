#include "config/settings.h"

#include <algorithm>
#include <cmath>

#include "base/numbers.h"
#include "config/ini_loader.h"

namespace tillvane {

namespace {

// A retention in days (fractions allowed), in whole seconds rounded up: an id or a journal
// file is never dropped before the time the shop asked for.
std::chrono::seconds RetentionSetting(const INILoader& configuration, const char* key,
                                      double defaultDays, const SettingLog& log) {
    const double days = ReadDaysSetting(configuration, key, defaultDays, kMaxRetentionDays, log);
    return std::chrono::seconds(
        std::max(1LL, static_cast<long long>(std::ceil(days * kSecondsPerDay))));
}

}  // namespace

std::optional<Settings> ReadSettings(const std::string& path, const SettingLog& log) {
    INILoader configuration;
    if (const platform::Error error = configuration.Load(path); !error.ok()) {
        log("Nu pot incarca fisierul de configurari [" + path + "]: " + error.text());
        return std::nullopt;
    }
    Settings settings;
    std::string value;
    configuration.GetValue(value, "tcpPort");
    settings.tcpPort = ParseDecimalInt(value);
    configuration.GetValue(value, "DebugMode");
    settings.debugMode = ParseDecimalInt(value) != 0;
    settings.maxCommandLines =
        ReadCountSetting(configuration, "maxCommandLines", kDefaultMaxCommandLines, log);
    configuration.GetValue(settings.allowedOrigins, "allowedOrigins");
    settings.idRetention =
        RetentionSetting(configuration, "requestIdDays", kDefaultRequestIdDays, log);
    settings.journalRetention =
        RetentionSetting(configuration, "journalDays", kDefaultJournalDays, log);
    const int waitAlert = ReadSecondsSetting(configuration, "receiptWaitAlertSeconds",
                                             kDefaultReceiptWaitAlertSeconds, log);
    settings.receiptWaitAlert = std::chrono::seconds(waitAlert);
    configuration.GetValue(settings.listenAddress, "listenAddress");
    configuration.GetValue(settings.allowedClients, "allowedClients");
    configuration.GetValue(settings.allowedHosts, "allowedHosts");
    configuration.GetValue(settings.apiTokens, "apiTokens");
    return settings;
}

}  // namespace tillvane
