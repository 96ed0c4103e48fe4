// JSON and CSV text for the commands' --json and --csv output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korva::cli {

// A JSON string literal. KRV files are 8-bit text: valid UTF-8 passes as it
// is and any other byte is taken as Latin-1, so the output is always valid JSON.
std::string JsonString(std::string_view text);

// A number at full precision, or null.
std::string JsonNumber(const std::optional<double>& value);

// The shortest text that reads back as the same single.
std::string SingleText(float value);

// The same in the general (printf %g-like) form: whole values such as a
// sample rate of 200000 stay whole, never "2e+05".
std::string ShortestSingle(float value);

// A CSV field, quoted when it needs to be.
std::string CsvField(std::string_view text);

}  // namespace korva::cli
