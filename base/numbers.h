#pragma once
// Conversions between numbers and text. Independent of the process locale: a point is the
// decimal separator and there is never a thousands separator.

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tillvane {

// Decimal integer prefix: leading white space, an optional sign, then digits up to the first
// other character; 0 when there are none. Saturates at the int range instead of overflowing.
int ParseDecimalInt(std::string_view text);

// Decimal number prefix as a price, quantity or amount: leading white space, an optional
// sign, digits with "." as the decimal point and an optional exponent; 0 when there is no
// number. Infinities and NaN are not numbers here: they give 0.
double ParseDecimalDouble(std::string_view text);

// A whole number as a till or a configuration file writes it: empty or blank (0), or blanks,
// an optional sign, decimal digits, blanks. Refused for any other text ("2x", "1.5", "0x10")
// or for a number outside the int range, so that no value is guessed from a typo.
Result<int> ParsePlainInt(std::string_view text);

// Largest magnitude of a price, quantity or amount on a receipt.
inline constexpr double kMaxReceiptNumber = 1'000'000'000.0;

// A price, quantity or amount as a till writes it: empty or blank (0), or blanks, an optional
// sign, digits with at most one "." among them, blanks; at most `bound` in magnitude. Refused
// for any other text ("2,50", "1e3", "nan", "0x10"), so no figure is guessed. "-0" gives 0.
Result<double> ParsePlainDecimal(std::string_view text, double bound = kMaxReceiptNumber);

// `value` rounded to `decimals` places, as printf's "%0.<decimals>f" writes it in the C locale.
std::string FormatFixed(double value, int decimals);

}  // namespace tillvane
