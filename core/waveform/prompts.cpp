#include "core/waveform/prompts.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "core/common/numbers.h"

namespace korva {
namespace {

// Entries from here on would round to infinity as a single.
constexpr double kSingleOverflow = 3.4028235677973366e38;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool StartsWithExponent(std::string_view text) {
  return !text.empty() && (text.front() == 'e' || text.front() == 'E');
}

// The abbreviations people type for a number: ".5", "e3", "-.5", "-e3".
std::string CompleteFloatEntry(std::string_view text) {
  if (!text.empty() && text.front() == '.') return "0" + std::string(text);
  if (StartsWithExponent(text)) return "1.0" + std::string(text);
  if (text.size() >= 2 && text.front() == '-' && text[1] == '.') {
    return "-0" + std::string(text.substr(1));
  }
  if (text.size() >= 2 && text.front() == '-' && StartsWithExponent(text.substr(1))) {
    return "-1.0" + std::string(text.substr(1));
  }
  return std::string(text);
}

}  // namespace

std::int32_t IntegerPrompt(Prompter& prompter, const std::string& caption, std::int32_t lowest,
                           std::int32_t highest, std::int32_t value) {
  if (lowest > highest) throw std::invalid_argument("IntegerPrompt: lowest above highest");
  // The proposal is what Cancel returns, so it must itself be acceptable.
  value = std::clamp(value, lowest, highest);
  const std::string question =
      caption + " from " + FormatInteger(lowest) + " to " + FormatInteger(highest);
  const std::string proposed = FormatInteger(value);
  for (;;) {
    std::string text(Trimmed(prompter.AskText("ENTER INTEGER", question, proposed)));
    if (text.empty() || text == "-") continue;
    if (text.front() == '.') text.insert(0, "0");
    const std::optional<long long> entry = ParseWholeInteger(text);
    if (!entry || *entry < lowest || *entry > highest) continue;
    return static_cast<std::int32_t>(*entry);
  }
}

float FloatPrompt(Prompter& prompter, const std::string& caption, float value, float lowest,
                  float highest) {
  if (!std::isfinite(lowest) || !std::isfinite(highest) || lowest > highest) {
    throw std::invalid_argument("FloatPrompt: bounds must be finite with lowest <= highest");
  }
  value = std::isfinite(value) ? std::clamp(value, lowest, highest) : lowest;
  const std::string question =
      caption + " from " + FormatFixed(lowest, 3) + " to " + FormatFixed(highest, 3);
  const std::string proposed = FormatFixed(value, 3);
  for (;;) {
    const std::string answer = prompter.AskText("ENTER FLOAT POINT NUMBER", question, proposed);
    // The proposal shows three decimals only; taken back unchanged (or on
    // Cancel) it stands for the value itself, which lies within the range
    // even when its three-decimal text would not (0.0004 between 0.0001 and 1).
    if (answer == proposed) return value;
    const std::string_view text = Trimmed(answer);
    if (text.empty() || text == "-") continue;
    const std::optional<double> entry = ParseWholeNumber(CompleteFloatEntry(text));
    if (!entry) continue;
    // Compared as the single it will be stored as, so that typing a bound
    // (0.1, not exactly representable) is accepted.
    if (std::fabs(*entry) >= kSingleOverflow) continue;
    const auto number = static_cast<float>(*entry);
    if (number < lowest || number > highest) continue;
    return number;
  }
}

}  // namespace korva
