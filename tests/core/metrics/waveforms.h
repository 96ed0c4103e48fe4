// Small synthetic waveforms for the metrics tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "core/waveform/session.h"

namespace korva::testing {

// A sine of the given RMS pressure and frequency, `count` samples at dt,
// starting at phase zero.
inline std::vector<float> Sine(double rms, double frequency, std::int32_t count, double dt) {
  std::vector<float> x(static_cast<std::size_t>(count));
  for (std::int32_t t = 0; t < count; ++t) {
    x[static_cast<std::size_t>(t)] = static_cast<float>(
        rms * std::numbers::sqrt2 * std::sin(2 * std::numbers::pi * frequency * t * dt));
  }
  return x;
}

// A session holding `samples` at interval dt, shown from 0 to its end.
inline Session SessionWith(const std::vector<float>& samples, float dt,
                           std::int32_t capacity = kMinSampleCapacity) {
  Session session(capacity);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    session.Pressure[static_cast<std::int64_t>(k)] = samples[k];
  }
  session.LastSample = static_cast<std::int32_t>(samples.size()) - 1;
  session.SampleInterval = dt;
  session.SampleRate = 1.0f / dt;
  session.StartTime = 0.0f;
  session.EndTime = session.LastSample * dt;
  session.Grid.SetImportTemplate();
  session.BaseName = "SHOT";
  UpdateExtremes(session);
  return session;
}

}  // namespace korva::testing
