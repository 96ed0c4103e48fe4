// The cochlear model and the hazard it accumulates.
//
// The stapes displacement is transformed once; for each of up to 23 places
// along the cochlea its spectrum is multiplied by the closed-form (WKB-type)
// transfer function from stapes to that place, including the wave reflected
// at the far end, and transformed back to a basilar-membrane displacement
// waveform. A place's hazard sums (peak - threshold)^exponent over the scaled
// peaks of its upward half-cycles; the waveform's hazard is the largest place
// hazard, in auditory risk units.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/common/pool.h"
#include "core/common/progress.h"
#include "core/model/ear_model.h"
#include "core/model/fft.h"
#include "core/waveform/session.h"

namespace korva {

// The longest transform the cochlea takes (and the longest movie).
inline constexpr std::int32_t kMaxFftLength = 1 << 20;

// The power of two nearest to `sample_count` on a logarithmic scale:
// Round(2^Round(log2(sample_count))). It may be shorter than the record (the
// rest takes no part) or longer (zero padding). 0 for no samples.
std::int32_t FftLengthFor(std::int32_t sample_count);

// The replay buffer of a run: rows 0..3 are headers, row i + 4 holds sample i;
// column 1 the pressure (Pa), column 2 the stapes displacement (um), column
// c + 2 the basilar-membrane displacement of place c. Header row 1 holds the
// place hazards, row 2 the maxima, row 3 the minima (columns 1 and 2: the
// pressure and stapes extremes). Sized to the run: FftLength + 4 rows.
class MovieBuffer {
 public:
  static constexpr int kColumns = 25;
  explicit MovieBuffer(std::int32_t rows);

  std::int32_t rows() const { return rows_; }
  // Checked access: row 0..rows-1, column 1..25 (RangeError otherwise).
  float& At(std::int32_t row, int column);
  float At(std::int32_t row, int column) const;
  // Columns 1..25 of `row` as [0..24], for loops that checked the row once.
  float* Row(std::int32_t row) { return values_.data() + static_cast<std::size_t>(row) * kColumns; }

 private:
  std::int32_t rows_;
  std::vector<float> values_;
};

// One place's scan of its displacement waveform.
struct PlaceScan {
  float hazard = 0.0f;      // the sum H
  float maximum = -1.0e6f;  // largest displacement
  float minimum = 1.0e6f;   // smallest displacement
};

// The half-cycle rule, one displacement sample at a time: every run of
// positive displacements is one upward half-cycle whose peak, scaled by
// `scale`, adds (peak - threshold)^exponent when it exceeds the threshold,
// once the displacement returns to zero or below. A half-cycle still open
// adds nothing. The cochlea applies it to each place's whole waveform, the
// movie to one sample per frame, so both arrive at the same hazard.
class HalfCycleHazard {
 public:
  HalfCycleHazard(double scale, float threshold, float exponent)
      : scale_(scale), threshold_(threshold), exponent_(exponent) {}

  void Add(float displacement) {
    if (displacement > 0.0f) {
      const auto scaled = static_cast<float>(displacement * scale_);
      peak_ = rising_ ? std::max(peak_, scaled) : scaled;
      rising_ = true;
    } else if (rising_) {
      rising_ = false;
      if (peak_ > threshold_) {
        hazard_ += static_cast<float>(std::pow(double{peak_} - threshold_, double{exponent_}));
      }
    }
  }
  float Hazard() const { return hazard_; }

 private:
  double scale_;
  float threshold_;
  float exponent_;
  bool rising_ = false;
  float peak_ = 0.0f;
  float hazard_ = 0.0f;
};

// The half-cycle rule over a whole waveform, with its extremes.
PlaceScan ScanPlace(std::span<const float> displacement, double scale, float threshold,
                    float exponent);

// The hazard scale of places 1..places at [c - 1]: the displacement gain
// falls off exponentially with the distance from the stapes.
std::vector<double> PlaceHazardScales(const EarModelParameters& params, int places);

// One running hazard per place 1..places (at [c - 1]), each empty, with the
// scale, threshold and exponent the cochlea uses.
std::vector<HalfCycleHazard> PlaceHazards(const EarModelParameters& params, int places);

// Places along the cochlea: x_c (cm from the stapes) and the characteristic
// frequency CF(x) = P45 exp(-x / P52) (Hz).
double PlaceDistance(const EarModelParameters& params, int place);
double CharacteristicFrequency(const EarModelParameters& params, double x);

// The lowest sampling rate the model can analyse: twice the characteristic
// frequency of its most basal place, so that every place's frequency lies
// below half the rate. Below it the basal places respond to frequencies the
// samples cannot carry (and far below it the middle-ear integration runs
// away): a run is refused rather than reported as an error of the model.
double MinimumSampleRate(const EarModelParameters& params);

struct CochlearResult {
  float TotalHazardARU = 0.0f;                        // largest place hazard
  std::array<float, kMaxPlaces + 1> SectionHazard{};  // [1..Places]
  std::int32_t WorstSection = 1;  // first place with the largest hazard (1 when all 0)
  std::int32_t Places = 0;
  std::int32_t FftLength = 0;
  std::int32_t HalfFftLength = 0;
  float StapesMax = 0.0f;
  float StapesMin = 0.0f;
};

// Runs the cochlea on the session: the stapes displacement (um) in
// StapesDisplacement[0..LastSample], the pressure (Pa) in Pressure. Sets
// FftLength; leaves the last place's displacement in
// StapesDisplacement[0..FftLength-1]; fills `movie` (when given; it must have
// FftLength + 4 rows). RangeError when FftLength exceeds kMaxFftLength.
// Progress is reported in steps (the stapes waveform, its spectrum, two per
// place), and a stop request ends the run at the next step (Cancelled). The
// places' transfer functions come from CochlearTransfersFor (computed by the
// first run that needs them). With a pool they and the places are computed
// side by side (the sink is then called from its threads, one at a time).
CochlearResult CochlearModel(const EarModelConstants& model, Session& session, MovieBuffer* movie,
                             ProgressSink& progress, ThreadPool* pool = nullptr);
CochlearResult CochlearModel(const EarModelConstants& model, Session& session, MovieBuffer* movie);

// The place table of a run, with CR LF line ends:
// "BIndex Freq(kHz) Hazard(AHU) Distance(cm)" and one line per place.
std::string PlaceTableText(const EarModelParameters& params, const CochlearResult& result);

}  // namespace korva
