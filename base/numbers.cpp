#include "base/numbers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tillvane {

namespace {

platform::Error Refused(std::string_view what) {
    return platform::Error::Message(std::string(what)).As(platform::ErrorKind::valueRefused);
}

// Decimals FormatFixed writes at most; more would only print binary noise.
inline constexpr int kMaxFixedDecimals = 30;
// The largest double written with "%f" has 309 integer digits; leave room for sign, point
// and decimals.
inline constexpr std::size_t kFixedBufferSize =
    std::numeric_limits<double>::max_exponent10 + 1 + 2 + kMaxFixedDecimals + 16;

// White space as the C locale's isspace sees it.
bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view SkipLeadingSpace(std::string_view text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsCSpace);
    return text.substr(static_cast<std::size_t>(first - text.begin()));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// `text` without the blanks around it.
std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int ParseDecimalInt(std::string_view text) {
    text = SkipLeadingSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Accumulate towards the sign's own end of the range so INT_MIN is reachable.
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        const int digit = c - '0';
        if (negative) {
            if (value < (kMin + digit) / 10) return kMin;
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10) return kMax;
            value = value * 10 + digit;
        }
    }
    return value;
}

double ParseDecimalDouble(std::string_view text) {
    text = SkipLeadingSpace(text);
    // from_chars takes a '-' but no '+'; a second sign after '+' is no number.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return 0.0;
    }
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    (void)end;
    if (error != std::errc{} || !std::isfinite(value)) return 0.0;
    return value;
}

Result<int> ParsePlainInt(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty()) return 0;
    // from_chars takes a '-' but no '+'; a second sign after '+' stays and is refused.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return Refused("not a plain whole number");
    return value;
}

Result<double> ParsePlainDecimal(std::string_view text, double bound) {
    text = TrimBlanks(text);
    if (text.empty()) return 0.0;

    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    bool point = false;
    bool digit = false;
    for (const char c : text) {
        if (IsDigit(c)) {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return Refused("not a plain decimal number within its bound");
        }
    }
    if (!digit) return Refused("not a plain decimal number within its bound");

    double value = 0.0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc{} || end != text.data() + text.size() || !(value <= bound)) {
        return Refused("not a plain decimal number within its bound");
    }
    if (value == 0.0) return 0.0;  // never a "-0.00" on a receipt
    return negative ? -value : value;
}

std::string FormatFixed(double value, int decimals) {
    decimals = std::clamp(decimals, 0, kMaxFixedDecimals);
    std::array<char, kFixedBufferSize> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                            std::chars_format::fixed, decimals);
    if (error != std::errc{}) return {};
    return std::string(buffer.data(), end);
}

}  // namespace tillvane
