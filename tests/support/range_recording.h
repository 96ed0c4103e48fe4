// Synthetic field recordings of a shooting range, for the shot detector's
// tests and benchmark: Friedlander impulses with their echoes at known
// times, in white or pink background noise, over a DC offset and a slow
// drift. Deterministic: the same description gives the same samples, and the
// samples come in blocks of any size, so a 10-minute channel need not be held.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/common/random.h"

namespace korva::testing {

// A reflection of a shot: the same wave `delay_s` later, `gain_db` (negative)
// relative to the direct one.
struct Echo {
  double delay_s = 0.0;
  double gain_db = 0.0;
};

// p(t) = P (1 - x) exp(-b x), x = (t - onset - rise) / T, after a straight
// rise from 0 at the onset to P at onset + rise.
struct Impulse {
  double onset_s = 0.0;
  double peak_db = 150.0;  // re 20 uPa
  double a_duration_s = 0.001;
  double decay = 1.0;  // b
  std::vector<Echo> echoes;
  double rise_s = 0.0;
};

struct RangeRecording {
  double rate = 200000.0;
  double duration_s = 10.0;
  double noise_db = 80.0;  // RMS of the background, re 20 uPa
  bool pink = false;       // -3 dB per octave from about 50 Hz up at 200 kHz
  double offset_pa = 0.0;  // DC
  double drift_pa = 0.0;   // amplitude of a slow sine on top of the offset
  double drift_period_s = 20.0;
  std::uint32_t seed = 1;
  std::vector<Impulse> shots;  // in order of onset

  std::int64_t frames() const;
};

// A range day with the cases shot detection must meet: `singles` rifle and
// pistol shots and blasts of 140-170 dB with A-durations of 0.2-3 ms, each
// with one or two echoes 5-30 ms later at -6 to -15 dB; `bursts` bursts of 10
// rounds 80 ms apart; one loud echo-free blast; background noise of 70-100 dB,
// white or pink, a DC offset and a drift. Every choice is drawn from `seed`.
// The events are spread evenly with at least a second between them, so
// `duration_s` must allow about 1.5 s per event.
RangeRecording RangeDay(double duration_s, int singles, int bursts, std::uint32_t seed);

// The samples of a recording, in pascals, block after block.
class RangeSignal {
 public:
  explicit RangeSignal(const RangeRecording& recording);

  // Fills `out` with the next samples (past the end: the background alone).
  void Fill(std::span<float> out);

 private:
  struct Wave {
    std::int64_t first = 0;  // first sample at or after the onset
    std::int64_t end = 0;    // past its last audible sample
    double onset = 0.0, peak = 0.0, a_duration = 0.0, decay = 0.0, rise = 0.0;
  };

  const RangeRecording recording_;
  std::vector<Wave> waves_;  // by first sample
  std::size_t next_wave_ = 0;
  std::vector<Wave> active_;
  std::int64_t position_ = 0;
  Lcg noise_;
  double noise_sigma_ = 0.0;
  double pink_[7] = {};
  double pink_gain_ = 1.0;
};

// The whole channel at once.
std::vector<float> Render(const RangeRecording& recording);

// Pascals of a level in dB re 20 uPa.
double PascalsOf(double db);

}  // namespace korva::testing
