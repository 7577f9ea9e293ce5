#include "config/setting_values.h"

#include <array>
#include <charconv>
#include <limits>
#include <optional>
#include <string>

#include "base/numbers.h"
#include "config/ini_loader.h"

namespace tillvane {

namespace {

// Room for the shortest text of any double.
constexpr std::size_t kNumberTextSize = 32;

// The shortest text that reads back as `value`, with a point whatever the locale.
std::string ShortestText(double value) {
    std::array<char, kNumberTextSize> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

void LogRefused(const SettingLog& log, std::string_view key, std::string_view value,
                std::string_view expected, const std::string& used) {
    log(std::string(key) + " [" + std::string(value) + "] is not " + std::string(expected) +
        "; the default " + used + " is used");
}

}  // namespace

int ReadCountSetting(const INILoader& configuration, std::string_view key, int defaultValue,
                     const SettingLog& log) {
    std::string value;
    if (!configuration.GetValue(value, key)) return defaultValue;
    const Result<int> count = ParsePlainInt(value);
    if (!count || *count <= 0) {
        LogRefused(log, key, value, "a whole number above 0", std::to_string(defaultValue));
        return defaultValue;
    }
    return *count;
}

int ReadSecondsSetting(const INILoader& configuration, std::string_view key, int defaultValue,
                       const SettingLog& log) {
    std::string value;
    if (!configuration.GetValue(value, key)) return defaultValue;
    const Result<int> seconds = ParsePlainInt(value);
    if (!seconds || *seconds < 0) {
        LogRefused(log, key, value, "a whole number of seconds, 0 or more",
                   std::to_string(defaultValue));
        return defaultValue;
    }
    return *seconds;
}

double ReadDaysSetting(const INILoader& configuration, std::string_view key, double defaultDays,
                       double maxDays, const SettingLog& log) {
    std::string value;
    if (!configuration.GetValue(value, key)) return defaultDays;
    const Result<double> days = ParsePlainDecimal(value, std::numeric_limits<double>::max());
    if (!days || !(*days > 0)) {
        LogRefused(log, key, value, "a number of days above 0", ShortestText(defaultDays));
        return defaultDays;
    }
    if (*days > maxDays) {
        log(std::string(key) + " [" + value + "] is more than " + ShortestText(maxDays) +
            " days; " + ShortestText(maxDays) + " is used");
        return maxDays;
    }
    return *days;
}

}  // namespace tillvane
