#pragma once
// Numbers read from the configuration file. A value that is no such number, or out of its
// range, is never half-read ("1.5" as 1, "0,5" as 0): it is refused, and `log` gets one entry
// that names the key, the value and what is used instead.

#include <functional>
#include <string_view>

namespace tillvane {

class INILoader;

using SettingLog = std::function<void(std::string_view)>;

// A count such as maxCommandLines: a whole number above 0. `defaultValue` when the key is
// missing or refused.
int ReadCountSetting(const INILoader& configuration, std::string_view key, int defaultValue,
                     const SettingLog& log);

// A number of seconds such as receiptWaitAlertSeconds: a whole number, 0 (off) or above.
// `defaultValue` when the key is missing or refused.
int ReadSecondsSetting(const INILoader& configuration, std::string_view key, int defaultValue,
                       const SettingLog& log);

// A number of days such as requestIdDays: a plain decimal above 0, fractions allowed.
// `defaultDays` when the key is missing or refused; `maxDays` (logged) when it asks for more.
double ReadDaysSetting(const INILoader& configuration, std::string_view key, double defaultDays,
                       double maxDays, const SettingLog& log);

}  // namespace tillvane
