// Energy measures over an interval of the waveform: the A-weighted and
// unweighted equivalent levels, the 8-hour equivalent of one exposure, the
// exposures allowed per day by the 85 dB(A), 3 dB-exchange criterion, and the
// A-weighted sound exposure. The A-weighting is applied in the frequency
// domain to the whole waveform; the sums run over the interval only.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/metrics/edits.h"
#include "core/model/fft.h"
#include "core/waveform/session.h"

namespace korva {

// Levels are dB re 20 uPa. A level or the allowed rounds is empty when the
// interval carries no energy (the level would be minus infinity, the rounds
// unlimited); AllowedRounds is also empty when too large to represent.
struct IntervalResults {
  std::optional<double> LAeqInterval;
  std::optional<double> LAeq8hr;
  std::optional<double> AllowedRounds;
  double AWeightedExposure = 0.0;  // J/m^2
  std::optional<double> LeqInterval;
};

// Exposures allowed per day by the 85 dB(A), 3 dB-exchange criterion to a
// sound of this 8-hour level: 2^((85 - LAeq8hr) / 3). Empty when too large
// to represent.
std::optional<double> AllowedRoundsFor(double laeq8hr);

// The transform length of the metrics: twice the smallest power of two above
// `last_sample` (so 4 x last_sample when it is itself a power of two).
// `last_sample` must be at least 1.
std::int64_t IntervalTransformLength(std::int32_t last_sample);

// The analytic IEC 61672-1 frequency weightings, with their phase.
enum class FrequencyWeighting { A, C };

// The spectrum of a waveform zero-padded to IntervalTransformLength (at
// least twice its length, so that a weighting's circular convolution cannot
// wrap its ringing tail onto the start), transformed once and weighted as
// often as asked. Throws Error for fewer than 2 or more than
// kMaxStatisticsLastSample + 1 samples or a non-positive dt.
class PaddedSpectrum {
 public:
  PaddedSpectrum(std::span<const float> samples, float dt);

  std::int64_t length() const { return 2 * std::int64_t{pairs_}; }

  // The whole inverse transform of the weighted spectrum, length() samples:
  // the weighted waveform followed by its ringing tail, which belongs to
  // its energy.
  std::vector<float> Weighted(FrequencyWeighting weighting) const;

 private:
  SpectrumBuffer re_;
  SpectrumBuffer im_;
  float dt_ = 0.0f;
  std::int32_t pairs_ = 0;
};

// The metrics of samples first..last (inclusive) of `samples` (the whole
// waveform, 0..LastSample) at interval dt. Works on its own scratch storage:
// neither the waveform nor any session array is touched, so the read-outs can
// run while an edit keeps its copy of the waveform. The equivalent
// levels divide by last - first (the index difference), raised to 1 when
// both ends are the same sample. Throws Error for fewer than 2 samples or
// more than kMaxStatisticsLastSample + 1, a non-positive dt or a non-finite
// result; RangeError unless 0 <= first <= last < samples.size().
IntervalResults IntervalMetrics(std::span<const float> samples, float dt, std::int32_t first,
                                std::int32_t last);

// The same on the session's waveform and selection (SelFirst..SelLast).
IntervalResults IntervalMetrics(const Session& session);

// The interval first..last (whole sample indices) of a waveform of
// last_sample + 1 samples at interval dt. Error naming the waveform's extent,
// in samples and milliseconds, when the interval does not lie within it.
Selection IntervalWithin(std::int32_t last_sample, float dt, double first, double last);

// The interval [SelFirst, SelLast] for the Statistics read-out from the two
// line positions (either order), each clamped into the plot.
Selection ReadoutSelection(std::int32_t last_sample, int x_a, int x_b, const PlotRect& plot);

// The interval length in samples the read-outs report (also kept as
// CursorSample): round(|a - b + 1| / PlotWidth x LastSample) with a the right
// and b the left line.
std::int32_t ReadoutLengthSamples(std::int32_t last_sample, int x_a, int x_b, const PlotRect& plot);

// The Statistics read-out while a line moves: the largest |sample| between
// the lines (the first of equals), as a level with three decimals in cell
// (1,7) and "dB at T milliseconds" (one decimal) in cell (2,7).
void ShowPeakReadout(Session& session, int x_a, int x_b, const PlotRect& plot);

// Writes the Statistics read-out into grid cells (1,8)..(2,11): the four
// values with three decimals and the explanatory texts, with D the interval
// length and S its start in milliseconds (two decimals). "n/a" stands for
// the level of a silent interval and "unlimited" for its allowed rounds.
void ShowStatisticsReadout(HeaderGrid& grid, const IntervalResults& results, std::int32_t sel_first,
                           std::int32_t length_samples, float dt);

// The shorter read-out shown after the Leq300ms spectrum: cells (1,6)..(2,8)
// with one decimal for the levels and D and S.
void ShowSpectrumIntervalReadout(HeaderGrid& grid, const IntervalResults& results,
                                 std::int32_t sel_first, std::int32_t length_samples, float dt);

}  // namespace korva
