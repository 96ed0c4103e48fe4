// The numbers analysts of impulse noise give every shot before any ear model:
// peak level and its time, the A-, B- and C-durations, the rise time, the
// C-weighted peak, the sound exposure levels, kurtosis and crest factor.
// Levels here are dB re exactly 20 uPa, kReferencePressurePa (the interval
// metrics keep their 94 dB for 1 Pa: core/common/levels.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace korva {

// Descriptors of one analysed interval; times in milliseconds from its first
// sample. A value is empty where it has no meaning: the levels and durations
// of a silent interval, kurtosis and crest factor of a constant one, the rise
// time when no sample before the peak lies at or below a tenth of it.
struct ImpulseDescriptors {
  // The first sample of the largest magnitude: its index, signed value and
  // time. Its sign s decides the phase the durations follow (s p > 0).
  std::int32_t peak_index = 0;
  double peak_pa = 0.0;
  double peak_time_ms = 0.0;
  std::optional<double> peak_db;

  // Positive phase around the peak, between the zero crossings interpolated
  // linearly on each side (the interval's ends where there is no crossing).
  std::optional<double> a_start_ms;
  std::optional<double> a_end_ms;
  std::optional<double> a_duration_ms;

  // The envelope within 20 dB of the peak (|p| >= P/10): B from its first to
  // its last sample, C the total time of the samples in it.
  std::optional<double> b_start_ms;
  std::optional<double> b_end_ms;
  std::optional<double> b_duration_ms;
  std::optional<double> c_duration_ms;

  // From the last sample at or before the peak with s p <= 0.1 P to the
  // first after it with s p >= 0.9 P.
  std::optional<double> rise_time_ms;

  // Frequency-weighted in the frequency domain with the analytic IEC 61672-1
  // responses, over the interval zero-padded to a power of two at least
  // twice its length; the exposure levels take the whole weighted result,
  // ringing tail included (reference 1 s).
  std::optional<double> lcpeak_db;
  std::optional<double> lae_db;
  std::optional<double> lze_db;
  std::optional<double> liaeq100ms_db;  // LAE spread over 100 ms: lae_db + 10

  // n sum (p - mean)^4 / (sum (p - mean)^2)^2 (3 for Gaussian noise, not the
  // excess); 20 log10(P / rms).
  std::optional<double> kurtosis;
  std::optional<double> crest_factor_db;
};

// The descriptors of `samples` (pascals) at interval dt (seconds). Throws
// Error for fewer than 2 or more than 1,048,576 samples, a non-positive dt
// or a sample that is not finite.
ImpulseDescriptors DescribeImpulse(std::span<const float> samples, float dt);

// The descriptors a report lists, in its order, under the names its tables
// and scripts know them by (peak_db, peak_pa, ..., crest_factor_db).
using NamedValue = std::pair<const char*, std::optional<double>>;
std::vector<NamedValue> NamedDescriptors(const ImpulseDescriptors& d);

}  // namespace korva
