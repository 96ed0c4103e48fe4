#include "core/common/numbers.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace korva {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Length of the longest prefix of `s` (no leading blanks) that is a decimal
// number: sign, digits, point, digits, exponent. 0 when there is none.
std::size_t DecimalPrefixLength(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && IsDigit(s[j])) {
      while (j < s.size() && IsDigit(s[j])) ++j;
      i = j;
    }
  }
  return i;
}

// Converts a prefix accepted by DecimalPrefixLength.
double ConvertDecimal(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double value = 0.0;
  const auto result = std::from_chars(s.data(), s.data() + s.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large saturates to the largest finite value; too small gives zero.
    const bool negative = s.front() == '-';
    const std::size_t e = s.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && e + 1 < s.size() && s[e + 1] == '-';
    if (tiny) return negative ? -0.0 : 0.0;
    return negative ? -1.7976931348623157e308 : 1.7976931348623157e308;
  }
  return value;
}

}  // namespace

double ParseLeadingNumber(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  text.remove_prefix(start);
  const std::size_t length = DecimalPrefixLength(text);
  return length == 0 ? 0.0 : ConvertDecimal(text.substr(0, length));
}

std::optional<double> ParseWholeNumber(std::string_view text) {
  if (text.empty() || DecimalPrefixLength(text) != text.size()) return std::nullopt;
  const double value = ConvertDecimal(text);
  if (!std::isfinite(value) || std::fabs(value) >= 1.7976931348623157e308) return std::nullopt;
  return value;
}

std::optional<long long> ParseWholeInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  long long value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string FormatFixed(double value, int decimals) {
  std::array<char, 400> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, decimals);
  return std::string(buffer.data(), result.ptr);
}

std::string FormatFixed(double value, int width, int decimals) {
  std::string text = FormatFixed(value, decimals);
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string FormatShortest(double value) {
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

std::string FormatInteger(long long value) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

int RoundToInt(double value) {
  if (!(value > -2.0e9)) return -2000000000;
  if (!(value < 2.0e9)) return 2000000000;
  return static_cast<int>(std::nearbyint(value));
}

}  // namespace korva
