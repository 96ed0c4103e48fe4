// Shared helpers of the hazard-model tests: the test parameter file, a
// Friedlander impulse and KRV files written the way the program writes them.
#pragma once

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/model/ear_model.h"
#include "core/waveform/krv.h"
#include "tests/support/temp_dir.h"

namespace korva::testing {

inline std::filesystem::path TestModelPath() {
  return std::filesystem::path(KORVA_TEST_DATA_DIR) / "test_ear_model.txt";
}

inline const EarModelConstants& TestModel() {
  static const EarModelConstants model = LoadEarModel(TestModelPath());
  return model;
}

// The test parameter file with line `line` replaced by `value`.
inline std::string ModelTextWith(int line, const std::string& value) {
  std::string text = ReadWholeFile(TestModelPath());
  std::size_t start = 0;
  for (int k = 1; k < line; ++k) start = text.find('\n', start) + 1;
  const std::size_t end = text.find('\n', start);
  return text.substr(0, start) + value + "  replaced" + text.substr(end);
}

// p(t) = peak (1 - t/T) exp(-t/T) after `onset` seconds, 0 before.
inline std::vector<float> Friedlander(int count, float dt, double peak_pa, double onset = 0.001,
                                      double duration = 0.001) {
  std::vector<float> p(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double t = i * double{dt} - onset;
    p[static_cast<std::size_t>(i)] =
        t < 0.0 ? 0.0f
                : static_cast<float>(peak_pa * (1.0 - t / duration) * std::exp(-t / duration));
  }
  return p;
}

inline double PascalsForLevel(double db) {
  return 20e-6 * std::pow(10.0, db / 20.0);
}

// A KRV file in `dir` with microphone location `location` and the samples.
inline std::filesystem::path WriteKrv(const TempDir& dir, const std::string& name,
                                      const std::string& location,
                                      const std::vector<float>& samples, int rate = 200000) {
  std::string text;
  const auto row = [&](const std::string& a, const std::string& b, const std::string& c) {
    text += a + " \t" + b + " \t" + c + " \r\n";
  };
  row("PARAMETER", "VALUE", "COMMENT");
  row("Title for waveform plot", "test impulse", "");
  row("Sampling rate", FormatInteger(rate), "");
  row("Microphone relative to ear", location, "");
  row("Number of Samples", FormatInteger(static_cast<long long>(samples.size())), "");
  for (const float s : samples) text += FloatToCompactStr(s) + "\r\n";
  return dir.Write(name, text);
}

}  // namespace korva::testing
