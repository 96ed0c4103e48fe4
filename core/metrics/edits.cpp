#include "core/metrics/edits.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "core/common/error.h"
#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "core/waveform/prompts.h"

namespace korva {

namespace {

using Extended = long double;

int Fraction(const PlotRect& plot, double fraction) {
  return RoundToInt(fraction * plot.width);
}

void SetCountCell(Session& session) {
  session.Grid.Cell(1, 4) = FormatInteger(session.LastSample + 1);
}

void FullView(Session& session) {
  session.StartTime = 0.0f;
  session.EndTime = static_cast<float>(Extended(session.LastSample) * session.SampleInterval);
}

// Drops the samples after the waveform, so nothing of an older, longer
// waveform lingers past its end: a later edit that lengthens the waveform
// finds zeros there.
void ClearTail(Session& session) {
  session.Pressure.Truncate(std::int64_t{session.LastSample} + 1);
}

void RequireWaveform(const Session& session) {
  if (session.LastSample < 0) throw Error("No waveform is loaded");
  session.Pressure.Range(0, session.LastSample);  // checks the length fits the array
}

}  // namespace

std::int32_t SampleAtX(std::int32_t last_sample, int x, const PlotRect& plot) {
  const int width = std::max(plot.width, 1);
  const double index = std::nearbyint(static_cast<double>(last_sample) *
                                      (static_cast<double>(x) - plot.left) / width);
  return static_cast<std::int32_t>(std::clamp(index, 0.0, static_cast<double>(last_sample)));
}

Selection SelectionFromCursors(std::int32_t last_sample, CursorPair lines, const PlotRect& plot) {
  int x1 = std::min(lines.x1, lines.x2);
  int x2 = std::max(lines.x1, lines.x2);
  if (x1 < plot.left) x1 = plot.left;
  if (x2 < plot.left) x2 = plot.left + 1;
  return {SampleAtX(last_sample, x1, plot), SampleAtX(last_sample, x2, plot)};
}

CursorPair SelectSegmentCursors(const PlotRect& plot) {
  return {plot.left + Fraction(plot, 0.05), plot.left + plot.width - Fraction(plot, 0.05)};
}

CursorPair SetBaselineCursors(const PlotRect& plot) {
  return {plot.left, plot.left + plot.width - Fraction(plot, 0.9)};
}

CursorPair StatisticsCursors(const PlotRect& plot) {
  return {plot.left + Fraction(plot, 0.02), plot.left + plot.width - Fraction(plot, 0.02)};
}

CursorPair TaperCursors(const PlotRect& plot, const plot::Frame& pressure_frame) {
  float time_ms = 3.75f;
  float pressure_kpa = 0.0f;
  const plot::ScreenPoint at = plot::WorldToScreen(pressure_frame, time_ms, pressure_kpa);
  return {at.x, plot.left + plot.width - Fraction(plot, 0.05)};
}

CursorPair ParkedCursors(const PlotRect& plot) {
  return {plot.left + 1, plot.left + plot.width - 1};
}

void SelectSegment(Session& session, CursorPair lines, const PlotRect& plot) {
  RequireWaveform(session);
  const Selection s = SelectionFromCursors(session.LastSample, lines, plot);
  const std::int32_t old_last = session.LastSample;
  auto samples = session.Pressure.Range(0, old_last);
  std::copy(samples.begin() + s.first, samples.begin() + s.last + 1, samples.begin());
  session.LastSample = s.last - s.first;
  ClearTail(session);
  session.StartTime =
      static_cast<float>(Extended(session.StartTime) + Extended(s.first) * session.SampleInterval);
  session.EndTime = static_cast<float>(Extended(session.StartTime) +
                                       Extended(session.LastSample) * session.SampleInterval);
  SetCountCell(session);
}

std::int32_t ExpandBaselineSelection(Session& session, CursorPair lines, const PlotRect& plot) {
  RequireWaveform(session);
  const Selection s = SelectionFromCursors(session.LastSample, lines, plot);
  const std::int32_t saved = session.LastSample;
  auto samples = session.Pressure.Range(0, saved);
  session.BaselineWhole.Assign(samples);
  std::copy(samples.begin() + s.first, samples.begin() + s.last + 1, samples.begin());
  session.LastSample = s.last - s.first;
  FullView(session);
  return saved;
}

void ApplyBaseline(Session& session, std::int32_t saved_last_sample, CursorPair lines,
                   const PlotRect& plot) {
  RequireWaveform(session);
  const Selection s = SelectionFromCursors(session.LastSample, lines, plot);
  auto stretch = session.Pressure.Range(s.first, s.last);
  // Summed in single precision, as the stored samples are.
  float sum = 0.0f;
  for (float v : stretch) sum += v;
  const float mean = sum / static_cast<float>(s.last - s.first + 1);

  const auto whole = std::as_const(session.BaselineWhole).Range(0, saved_last_sample);
  auto samples = session.Pressure.Range(0, saved_last_sample);
  for (std::size_t k = 0; k < samples.size(); ++k) samples[k] = whole[k] - mean;
  session.BaselineWhole.Release();
  session.LastSample = saved_last_sample;
  UpdateExtremes(session);
  FullView(session);
  // The enlarged view's count may stand in the cell: it must be the waveform's.
  SetCountCell(session);
}

void TaperEnds(Session& session, CursorPair lines, const PlotRect& plot) {
  RequireWaveform(session);
  const Selection s = SelectionFromCursors(session.LastSample, lines, plot);
  const std::int32_t last = session.LastSample;
  auto samples = session.Pressure.Range(0, last);
  const Extended pi = std::numbers::pi_v<Extended>;
  for (std::int32_t k = 0; k < s.first; ++k) {
    const Extended w = (1 - std::cos(pi * k / s.first)) * Extended(0.5);
    samples[static_cast<std::size_t>(k)] =
        static_cast<float>(samples[static_cast<std::size_t>(k)] * w);
  }
  if (s.last < last) {
    for (std::int32_t k = s.last; k <= last; ++k) {
      const Extended w = (std::cos(pi * (k - s.last) / (last - s.last)) + 1) * Extended(0.5);
      samples[static_cast<std::size_t>(k)] =
          static_cast<float>(samples[static_cast<std::size_t>(k)] * w);
    }
  }
  // A read-out of the lines may have written a count of theirs into the cell.
  SetCountCell(session);
}

EstablishStartView BeginEstablishStart(Session& session) {
  RequireWaveform(session);
  EstablishStartView view;
  view.saved_last_sample = session.LastSample;
  auto samples = session.Pressure.Range(0, session.LastSample);

  float peak = -1.0e6f;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (std::fabs(samples[k]) > peak) {
      peak = std::fabs(samples[k]);
      view.peak_index = static_cast<std::int32_t>(k);
    }
  }
  view.peak = peak;
  const double peak_level = Level94Db(peak);
  // Loud impulses start where they pass 134 dB; quieter ones at 2 % of the peak.
  view.threshold = peak_level >= 140.0 ? 100.0f : peak / 50.0f;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (std::fabs(samples[k]) >= view.threshold) {
      view.onset = static_cast<std::int32_t>(k);
      break;
    }
  }
  view.marker_ms =
      static_cast<float>((Extended(view.onset) - 0.5L) * session.SampleInterval * 1000);
  view.marker_kpa = static_cast<float>(0.001L * samples[static_cast<std::size_t>(view.onset)]);

  session.LastSample = std::min(2 * view.peak_index, view.saved_last_sample);
  FullView(session);
  return view;
}

std::int32_t ShowStartLevel(Session& session, int x1, const PlotRect& plot, bool dragging) {
  const std::int32_t sample = SampleAtX(session.LastSample, std::max(x1, plot.left), plot);
  const double level = Level94Db(std::fabs(double{session.Pressure[sample]}) + 0.000001);
  if (!dragging) {
    session.Grid.Cell(0, 8) = "Establish start level";
    session.Grid.Cell(2, 8) = "dB at 5.0 msec";
  } else {
    const double ms = static_cast<double>(Extended(sample) * session.SampleInterval * 1000);
    session.Grid.Cell(2, 8) = "dB at " + FormatFixed(ms, 2) + " msec.";
  }
  session.Grid.Cell(1, 8) = FormatFixed(level, 1);
  return sample;
}

void FinishEstablishStart(Session& session, const EstablishStartView& view, int x1,
                          const PlotRect& plot) {
  const std::int32_t onset = SampleAtX(session.LastSample, std::max(x1, plot.left), plot);
  const std::int64_t shift =
      onset - static_cast<std::int64_t>(std::nearbyint(0.005 / double{session.SampleInterval}));
  session.LastSample = view.saved_last_sample;
  const std::int32_t last = session.LastSample;
  FullView(session);

  if (shift < 0) {
    const std::int64_t grown_count = std::int64_t{last} + 1 - shift;
    if (grown_count > session.SampleCapacity()) {
      throw Error("Moving the start to 5.0 msec would make the waveform longer than the " +
                  FormatInteger(session.SampleCapacity()) + " samples it can hold");
    }
    const auto pad = static_cast<std::int32_t>(-shift);
    auto samples = session.Pressure.Range(0, last + pad);
    std::copy_backward(samples.begin(), samples.begin() + last + 1, samples.end());
    std::fill(samples.begin(), samples.begin() + pad, 0.0f);
    session.LastSample = last + pad;
  } else {
    const auto drop = static_cast<std::int32_t>(shift);
    auto samples = session.Pressure.Range(0, last);
    std::copy(samples.begin() + drop, samples.end(), samples.begin());
    session.LastSample = last - drop;
    ClearTail(session);
  }
  FullView(session);
  session.Grid.Cell(2, 8) = "dB at 5.0 msec.";
  SetCountCell(session);
}

const std::array<CalibrationUnit, 9> kCalibrationUnits = {{
    {"Scale factor ", 6894.0f, -1000000.0f, 1000000.0f, 0.0},
    {"Atm", 1.0f, 0.0f, 100.0f, 101300.0},
    {"Bar", 1.0f, 0.0f, 1000.0f, 100000.0},
    {"PPL dB", 166.0f, 0.0f, 200.0f, 0.0},
    {"dynes/cm^2", 1.0f, 0.0f, 1000.0f, 0.1},
    {"Millibar", 1.0f, 0.0f, 1000.0f, 100.0},
    {"KiloPascals", 1.0f, 0.0f, 300.0f, 1000.0},
    {"Pascals", 10000.0f, 0.0f, 1000000.0f, 1.0},
    {"P.S.I.", 1.0f, 0.0f, 1000.0f, 6895.0},
}};

double TargetPeak(int cal_unit, float value) {
  if (cal_unit < 1 || cal_unit > 8) throw RangeError("calibration unit");
  if (cal_unit == 3) return PascalsOf94Db(value);
  return kCalibrationUnits[static_cast<std::size_t>(cal_unit)].pascals_per_unit * value;
}

float Calibrate(Session& session, Prompter& prompter, int cal_unit) {
  if (cal_unit < 0 || cal_unit > 8) throw RangeError("calibration unit");
  const CalibrationUnit& unit = kCalibrationUnits[static_cast<std::size_t>(cal_unit)];
  const float value = FloatPrompt(prompter, unit.label, unit.proposed, unit.lowest, unit.highest);
  ApplyCalibration(session, cal_unit, value);
  return value;
}

void ApplyCalibration(Session& session, int cal_unit, float value) {
  if (cal_unit < 0 || cal_unit > 8) throw RangeError("calibration unit");
  RequireWaveform(session);
  UpdateExtremes(session);
  float factor = value;
  if (cal_unit != 0) {
    if (!(session.PeakPressure > 0.0f)) {
      throw Error(
          "The waveform has no positive sample to set to a known peak; use Multiply data by "
          "keyboard input instead");
    }
    factor = static_cast<float>(TargetPeak(cal_unit, value) / session.PeakPressure);
  }
  const double largest =
      std::max(std::fabs(double{session.PeakPressure}), std::fabs(double{session.MinPressure}));
  if (!std::isfinite(factor) || !std::isfinite(static_cast<float>(largest * factor))) {
    throw Error("Floating point error in Calibrate: the scaled samples would overflow");
  }
  for (float& v : session.Pressure.Range(0, session.LastSample)) {
    v = static_cast<float>(Extended(v) * factor);
  }
  UpdateExtremes(session);
}

std::string ResampleQuestion(const Session& session) {
  return "Sample rate = " + FormatFixed(1.0 / double{session.SampleInterval}, 0) +
         " samples/sec. " + "Change sample rate?";
}

bool Resample(Session& session, Prompter& prompter) {
  RequireWaveform(session);
  if (!prompter.AskOkCancel("Confirm", ResampleQuestion(session))) return false;
  const float rate = FloatPrompt(prompter, "Sample rate in samples/sec",
                                 1.0f / session.SampleInterval, 0.1f, 10000000.0f);
  ResampleTo(session, rate);
  return true;
}

void ResampleTo(Session& session, float rate) {
  RequireWaveform(session);
  if (!std::isfinite(rate) || rate <= 0.0f) throw Error("The sample rate must be positive");
  const float dt = session.SampleInterval;
  const float new_dt = 1.0f / rate;
  const float duration = static_cast<float>(Extended(session.LastSample) * dt);
  const double n_exact = std::trunc(double{duration} / double{new_dt});
  if (n_exact < 1.0) {
    throw Error("At " + FormatFixed(rate, 0) +
                " samples/sec the waveform would keep fewer than 2 samples");
  }
  if (n_exact + 1.0 > session.SampleCapacity()) {
    throw Error("At " + FormatFixed(rate, 0) + " samples/sec the waveform would need more than " +
                FormatInteger(session.SampleCapacity()) + " samples");
  }
  const auto n = static_cast<std::int32_t>(n_exact);
  const std::int32_t old_last = session.LastSample;
  auto source = session.Pressure.Range(0, old_last);

  std::vector<float> out(static_cast<std::size_t>(n) + 1);
  out[0] = source[0];
  std::int32_t j = 0;
  float t = 0.0f;  // time of source sample j, single precision as stored
  for (std::int32_t i = 1; i <= n; ++i) {
    const float ti = static_cast<float>(Extended(i) * new_dt);
    // Rounding of the single-precision times can ask for one sample past the
    // end at the very last output; the line through the last two samples
    // serves there.
    while (t < ti && j < old_last) {
      ++j;
      t = static_cast<float>(Extended(j) * dt);
    }
    const Extended slope =
        (Extended(source[static_cast<std::size_t>(j)]) - source[static_cast<std::size_t>(j - 1)]) /
        dt;
    out[static_cast<std::size_t>(i)] =
        static_cast<float>(source[static_cast<std::size_t>(j)] + (Extended(ti) - t) * slope);
  }

  auto target = session.Pressure.Range(0, n);
  std::copy(out.begin(), out.end(), target.begin());
  session.LastSample = n;
  ClearTail(session);
  session.SampleInterval = new_dt;
  session.SampleRate = 1.0f / new_dt;
  // The segment keeps its place in time; the view covers all of it.
  session.EndTime = static_cast<float>(Extended(session.StartTime) + Extended(n) * new_dt);
  SetCountCell(session);
  session.Grid.Cell(1, 2) = FormatFixed(double{session.SampleRate}, 0);
}

std::int32_t BeginStatistics(Session& session) {
  RequireWaveform(session);
  if (session.LastSample > kMaxStatisticsLastSample) {
    throw Error("Statistics needs a waveform of at most 1,048,576 samples.");
  }
  if (session.LastSample < 1) throw Error("Statistics needs a waveform of at least 2 samples.");
  const std::int32_t saved = session.LastSample;
  session.StatisticsPressure.Assign(std::as_const(session.Pressure).Range(0, saved));
  session.Grid.Cell(0, 8) = "LAeq and Leq";
  return saved;
}

void FinishStatistics(Session& session, std::int32_t saved_last_sample) {
  const auto kept = std::as_const(session.StatisticsPressure).Range(0, saved_last_sample);
  auto samples = session.Pressure.Range(0, saved_last_sample);
  std::copy(kept.begin(), kept.end(), samples.begin());
  session.StatisticsPressure.Release();
  session.LastSample = saved_last_sample;
  FullView(session);
  SetCountCell(session);
}

}  // namespace korva
