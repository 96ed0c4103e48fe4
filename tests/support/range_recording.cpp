#include "tests/support/range_recording.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace korva::testing {
namespace {

// Each wave is drawn until (1 - x) exp(-b x) has fallen below 1e-11.
constexpr double kAudibleDecays = 30.0;

// Paul Kellet's refined pink-noise filter: six one-pole sections and a
// direct path on white noise.
constexpr double kPole[6] = {0.99886, 0.99332, 0.96900, 0.86650, 0.55000, -0.7616};
constexpr double kGain[6] = {0.0555179, 0.0750759, 0.1538520, 0.3104856, 0.5329522, -0.0168980};
constexpr double kDirect = 0.5362;
constexpr double kDelayed = 0.115926;

// The RMS of the filter's output for white noise of RMS 1: the root of the
// sum of its squared impulse response.
double PinkRms() {
  double energy = 0.0;
  double power[6] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
  for (int n = 0; n < 40000; ++n) {
    double h = n == 0 ? kDirect : n == 1 ? kDelayed : 0.0;
    for (int k = 0; k < 6; ++k) {
      h += kGain[k] * power[k];
      power[k] *= kPole[k];
    }
    energy += h * h;
  }
  return std::sqrt(energy);
}

}  // namespace

double PascalsOf(double db) {
  return 20.0e-6 * std::pow(10.0, db / 20.0);
}

std::int64_t RangeRecording::frames() const {
  return static_cast<std::int64_t>(std::llround(duration_s * rate));
}

RangeRecording RangeDay(double duration_s, int singles, int bursts, std::uint32_t seed) {
  // The generator's draws are affine in its seed, so nearby seeds would
  // give nearby recordings: the seed is mixed first.
  std::uint32_t mixed = seed;
  for (const std::uint32_t factor : {0x7feb352du, 0x846ca68bu}) {
    mixed ^= mixed >> 16;
    mixed *= factor;
  }
  Lcg random(mixed ^ (mixed >> 16));
  const auto between = [&](double low, double high) {
    return low + (high - low) * random.Uniform();
  };
  RangeRecording r;
  r.duration_s = duration_s;
  r.seed = seed;
  r.noise_db = between(70.0, 100.0);
  r.pink = random.Uniform() < 0.5;
  r.offset_pa = (random.Uniform() < 0.5 ? -1.0 : 1.0) * between(0.5, 3.0);
  r.drift_pa = between(0.5, 2.0);
  r.drift_period_s = between(10.0, 30.0);

  const auto echoes = [&] {
    std::vector<Echo> list{{between(0.005, 0.030), between(-15.0, -6.0)}};
    if (random.Uniform() < 0.5) {
      // Apart from the first, so that the two never add up to the direct wave.
      double delay = 0.0;
      do delay = between(0.005, 0.030);
      while (std::abs(delay - list[0].delay_s) < 0.003);
      list.push_back({delay, between(-15.0, -6.0)});
    }
    return list;
  };

  const int events = singles + bursts + 1;
  const double span = (duration_s - 1.0) / events;
  if (span < 1.2) throw std::invalid_argument("RangeDay: too many events for the duration");
  const int blast = static_cast<int>(random.Uniform() * events);
  int bursts_left = bursts;
  for (int k = 0; k < events; ++k) {
    const double onset = 0.5 + k * span + between(0.0, span - 1.0);
    if (k == blast) {
      r.shots.push_back({onset, 168.0, 0.0025, 1.0, {}});
    } else if (bursts_left > 0 && (k % 2 == 1 || events - k <= bursts_left)) {
      --bursts_left;
      const double peak = between(145.0, 160.0);
      const double a_duration = between(0.00025, 0.0006);
      for (int round = 0; round < 10; ++round) {
        r.shots.push_back({onset + 0.080 * round, peak + between(-1.0, 1.0), a_duration,
                           between(1.0, 2.0), echoes()});
      }
    } else {
      const double peak = between(140.0, 170.0);
      const double a_duration = 0.0002 * std::pow(15.0, random.Uniform());  // 0.2 to 3 ms
      r.shots.push_back({onset, peak, a_duration, between(1.0, 2.0), echoes()});
    }
  }
  return r;
}

RangeSignal::RangeSignal(const RangeRecording& recording)
    : recording_(recording), noise_(recording.seed) {
  noise_sigma_ = PascalsOf(recording.noise_db);
  if (recording.pink) pink_gain_ = 1.0 / PinkRms();
  for (const Impulse& shot : recording.shots) {
    const auto add = [&](double onset, double peak) {
      Wave w;
      w.onset = onset;
      w.peak = peak;
      w.a_duration = shot.a_duration_s;
      w.decay = shot.decay;
      w.rise = shot.rise_s;
      // A sample within a nanosecond of the onset is the onset.
      w.first =
          static_cast<std::int64_t>(std::ceil(onset * recording.rate - 1e-9 * recording.rate));
      w.end =
          w.first +
          static_cast<std::int64_t>(std::ceil(
              (shot.rise_s + kAudibleDecays / shot.decay * shot.a_duration_s) * recording.rate));
      waves_.push_back(w);
    };
    const double peak = PascalsOf(shot.peak_db);
    add(shot.onset_s, peak);
    for (const Echo& e : shot.echoes)
      add(shot.onset_s + e.delay_s, peak * std::pow(10.0, e.gain_db / 20.0));
  }
  std::sort(waves_.begin(), waves_.end(),
            [](const Wave& a, const Wave& b) { return a.first < b.first; });
}

void RangeSignal::Fill(std::span<float> out) {
  const double rate = recording_.rate;
  const std::int64_t from = position_;
  const std::int64_t to = from + static_cast<std::int64_t>(out.size());
  std::vector<double> p(out.size());

  for (std::size_t i = 0; i < p.size(); ++i) {
    const double white = noise_.Gaussian(1.0);
    double noise = white;
    if (recording_.pink) {
      double sum = pink_[6] + kDirect * white;
      for (int k = 0; k < 6; ++k) {
        pink_[k] = kPole[k] * pink_[k] + kGain[k] * white;
        sum += pink_[k];
      }
      pink_[6] = kDelayed * white;
      noise = sum * pink_gain_;
    }
    const double t = static_cast<double>(from + static_cast<std::int64_t>(i)) / rate;
    p[i] = noise_sigma_ * noise + recording_.offset_pa +
           recording_.drift_pa * std::sin(2.0 * std::numbers::pi * t / recording_.drift_period_s);
  }

  while (next_wave_ < waves_.size() && waves_[next_wave_].first < to) {
    active_.push_back(waves_[next_wave_++]);
  }
  std::erase_if(active_, [&](const Wave& w) { return w.end <= from; });
  for (const Wave& w : active_) {
    for (std::int64_t i = std::max(w.first, from); i < std::min(w.end, to); ++i) {
      const double t = std::max(0.0, static_cast<double>(i) / rate - w.onset);
      const double x = (t - w.rise) / w.a_duration;
      p[static_cast<std::size_t>(i - from)] +=
          x < 0.0 ? w.peak * t / w.rise : w.peak * (1.0 - x) * std::exp(-w.decay * x);
    }
  }
  std::transform(p.begin(), p.end(), out.begin(), [](double v) { return static_cast<float>(v); });
  position_ = to;
}

std::vector<float> Render(const RangeRecording& recording) {
  std::vector<float> samples(static_cast<std::size_t>(recording.frames()));
  RangeSignal signal(recording);
  signal.Fill(samples);
  return samples;
}

}  // namespace korva::testing
