// Locale-independent conversions between numbers and text. Every number read
// from or written to a file or a grid cell goes through these: once a Qt
// application exists the C library follows the user's locale, and "3,250"
// must never reach a KRV file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korva {

// The ordinary decimal conversion of the leading part of `text`: leading
// blanks and tabs, an optional sign, digits with an optional point and
// exponent. Whatever follows is ignored; 0 when nothing numeric leads.
// Infinities, NaN and hexadecimal forms are not numbers here.
double ParseLeadingNumber(std::string_view text);

// A finite decimal number filling `text` from end to end, or nothing.
std::optional<double> ParseWholeNumber(std::string_view text);

// A decimal integer (optional sign, digits) filling `text` from end to end
// and fitting in 64 bits, or nothing.
std::optional<long long> ParseWholeInteger(std::string_view text);

// Fixed-point text with `decimals` digits after the point ("%.*f" in the C locale).
std::string FormatFixed(double value, int decimals);

// Fixed-point text right-aligned in `width` characters ("%*.*f" in the C locale).
std::string FormatFixed(double value, int width, int decimals);

// The shortest text that reads back as the same double ("%.17g"-like, C locale).
std::string FormatShortest(double value);

// Plain decimal integer.
std::string FormatInteger(long long value);

// Nearest integer, halves to even (the rounding of every stored result).
// Saturated at +-2,000,000,000, NaN at the low end: screen coordinates of
// points far off a zoomed view stay integers with room for arithmetic.
int RoundToInt(double value);

}  // namespace korva
