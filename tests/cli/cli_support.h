// Shared helpers of the end-to-end runs of korva-cli: running it, reading
// its JSON lines and writing KRV files as the window saves them.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>

#include "core/common/numbers.h"
#include "tests/support/temp_dir.h"

namespace korva::testing {

// Runs "korva-cli ARGUMENTS" with standard error joined; `out` receives the
// output in place of what it held.
inline int Cli(const std::string& arguments, std::string* out) {
  return Shell(std::string(KORVA_CLI_PATH) + " " + arguments, out);
}

// Runs a command that must succeed; returns its output.
inline std::string CliOk(const std::string& arguments) {
  std::string out;
  EXPECT_EQ(Cli(arguments, &out), 0) << arguments << "\n" << out;
  return out;
}

// The text after "KEY": in `json` from `from` on, up to the next comma or brace.
inline std::string JsonField(const std::string& json, const std::string& key,
                             std::size_t from = 0) {
  const std::size_t at = json.find("\"" + key + "\":", from);
  if (at == std::string::npos) return "<missing " + key + ">";
  const std::size_t start = json.find_first_not_of(' ', at + key.size() + 3);
  return json.substr(start, json.find_first_of(",}", start) - start);
}

// A KRV file: the five header rows (the count left empty) and `count`
// samples `sample(i)` written with `decimals` decimals.
inline std::string KrvText(const std::string& title, int rate, int location, int count,
                           const std::function<double(int)>& sample, int decimals = 6) {
  std::string text = "PARAMETER \tVALUE \tCOMMENT \r\nTitle for waveform plot \t \t" + title +
                     " \r\nSampling rate \t" + FormatInteger(rate) +
                     " \tsamples/sec \r\nMicrophone relative to ear \t" + FormatInteger(location) +
                     " \t \r\nNumber of Samples \t \t \r\n";
  for (int i = 0; i < count; ++i) text += FormatFixed(sample(i), decimals) + "\r\n";
  return text;
}

// The commands that draw (plot, movie) need Qt: a build without the window
// has none. Decided by the build, not by asking korva-cli: a command lost
// from a build with the window must fail its tests, not skip them.
inline bool CliDraws() {
#ifdef KORVA_CLI_DRAWS
  return true;
#else
  return false;
#endif
}

// 2048 samples at 200 kHz of a 3 kPa Friedlander pulse starting at 1 ms.
inline std::string PulseKrv() {
  return KrvText(
      "PULSE", 200000, 1, 2048,
      [](int i) {
        const double t = (i - 200) * 5e-6;
        return t < 0 ? 0.0 : 3000.0 * (1 - t / 5e-4) * std::exp(-t / 5e-4);
      },
      4);
}

// Entries of a folder: what a command left there.
inline std::size_t FileCount(const std::filesystem::path& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

}  // namespace korva::testing
