#include "core/metrics/shot_report.h"

#include <cmath>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/model/cochlea.h"

namespace korva {

namespace {

// Sums levels as energies: 10 log10(sum 10^(L/10)), with the count.
struct EnergySum {
  double sum = 0.0;
  int count = 0;
  std::optional<double> maximum;

  void Add(const std::optional<double>& level) {
    if (!level) return;
    sum += std::pow(10.0, *level / 10.0);
    ++count;
    if (!maximum || *level > *maximum) maximum = *level;
  }
  std::optional<double> Total() const {
    if (count == 0 || !(sum > 0.0)) return std::nullopt;
    return 10.0 * std::log10(sum);
  }
  ShotSummary::Levels Levels() const {
    const std::optional<double> total = Total();
    if (!total) return {};
    return {*total - 10.0 * std::log10(count), maximum};
  }
};

}  // namespace

ShotReport FailedShot(std::string file, std::string error) {
  ShotReport shot;
  shot.file = std::move(file);
  shot.error = error.empty() ? "failed" : std::move(error);
  return shot;
}

ShotReport DescribeShot(const std::string& file, const Session& session, Selection interval) {
  if (session.LastSample < 1) throw Error("The waveform holds fewer than 2 samples");
  if (interval.first < 0 || interval.last > session.LastSample || interval.last <= interval.first) {
    throw Error(
        "The interval must hold at least 2 samples of the waveform, whose samples run "
        "from 0 to " +
        FormatInteger(session.LastSample));
  }
  ShotReport shot;
  shot.file = file;
  shot.title = session.WaveformTitle;
  shot.samples = session.SampleCount();
  shot.dt = session.SampleInterval;
  shot.rate = session.SampleRate;
  shot.mic_location = session.MicLocation;
  shot.interval = interval;
  const std::span<const float> whole = session.Pressure.Range(0, session.LastSample);
  const std::span<const float> analysed = session.Pressure.Range(interval.first, interval.last);
  shot.descriptors = DescribeImpulse(analysed, session.SampleInterval);
  shot.metrics = IntervalMetrics(whole, session.SampleInterval, interval.first, interval.last);
  try {
    shot.spectrum = ComputeLeq300msSpectrum(analysed, session.SampleInterval);
  } catch (const Error& e) {
    shot.spectrum_error = e.what();
  }
  return shot;
}

void AddHazardRun(ShotReport& shot, HazardRunResult run) {
  const int places = run.cochlea.Places;
  shot.place_distance_cm.resize(static_cast<std::size_t>(std::max(places, 0)));
  for (int c = 1; c <= places; ++c) {
    shot.place_distance_cm[static_cast<std::size_t>(c - 1)] = PlaceDistance(run.parameters, c);
  }
  shot.hazard[run.listener == Listener::Warned ? 0 : 1] = std::move(run);
}

ShotSummary SummariseShots(std::span<const ShotReport> shots) {
  ShotSummary s;
  EnergySum peak, lae, laeq8hr;
  for (const ShotReport& shot : shots) {
    ++s.files;
    if (shot.failed()) {
      ++s.failed;
      continue;
    }
    peak.Add(shot.descriptors.peak_db);
    lae.Add(shot.descriptors.lae_db);
    laeq8hr.Add(shot.metrics.LAeq8hr);
    if (const auto& rounds = shot.metrics.AllowedRounds;
        rounds && (!s.least_allowed_rounds || *rounds < *s.least_allowed_rounds)) {
      s.least_allowed_rounds = rounds;
      s.least_allowed_rounds_file = shot.file;
    }
    for (std::size_t k = 0; k < 2; ++k) {
      const auto& run = shot.hazard[k];
      if (!run) continue;
      const float aru = run->cochlea.TotalHazardARU;
      ++s.runs[k];
      s.day_aru[k] += aru;
      const std::optional<double> allowed = AllowedExposures(aru);
      if (allowed && (!s.least_allowed[k] || *allowed < *s.least_allowed[k])) {
        s.least_allowed[k] = allowed;
        s.least_allowed_file[k] = shot.file;
      }
    }
  }
  s.peak_db = peak.Levels();
  s.lae_db = lae.Levels();
  s.LAeq8hr = laeq8hr.Levels();
  s.day_LAeq8hr = laeq8hr.Total();
  if (s.day_LAeq8hr) s.day_allowed_by_energy = AllowedRoundsFor(*s.day_LAeq8hr);
  for (std::size_t k = 0; k < 2; ++k) {
    s.day_allowed_by_model[k] = AllowedExposures(s.day_aru[k]);
  }
  return s;
}

}  // namespace korva
