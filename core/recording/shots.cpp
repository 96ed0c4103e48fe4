#include "core/recording/shots.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <deque>
#include <stdexcept>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"

namespace korva {
namespace {

constexpr double kReferencePa = 20.0e-6;
constexpr double kBlockSeconds = 0.010;
constexpr std::size_t kBackgroundBlocks = 200;  // 2 s of 10 ms blocks
// The gap left before the next shot's start, and the span over which a
// crossing's peak is judged.
constexpr double kCutSeconds = 0.001;
// The quiet that must precede a crossing (at least kCutSeconds): long enough
// that the dips of a reverberant tail (reflections 0.3-2 ms apart) do not
// make new crossings, short enough for rounds 15 ms apart.
constexpr double kQuietSeconds = 0.005;
// Pushed samples are taken this many at a time, so that one huge block does
// not make the kept samples grow with it.
constexpr std::size_t kChunk = 65536;
// Samples judged together while nothing happens.
constexpr std::size_t kRun = 64;
// The run's block levels, for its median background: 0.01 dB bins from
// -40 dB (everything quieter, digital silence included, in the first) to 220 dB.
constexpr double kHistogramFloorDb = -40.0;
constexpr double kHistogramStepDb = 0.01;
constexpr std::size_t kHistogramBins = 26000;

double Db(double pascals) {
  return 20.0 * std::log10(std::abs(pascals) / kReferencePa);
}

double Pascals(double db) {
  return kReferencePa * std::pow(10.0, db / 20.0);
}

std::int64_t Samples(double seconds, double rate) {
  return static_cast<std::int64_t>(std::llround(seconds * rate));
}

void CheckOne(const char* name, double value, double low, bool low_open, double high,
              const char* unit) {
  const bool inside = (low_open ? value > low : value >= low) && value <= high;
  if (inside) return;  // NaN fails both comparisons
  const std::string given =
      std::isnan(value) ? std::string("not a number") : FormatShortest(value) + " " + unit;
  throw Error("shot option " + std::string(name) + " = " + given + " is out of range (" +
              (low_open ? "more than " : "") + FormatShortest(low) + " to " + FormatShortest(high) +
              " " + unit + ")");
}

// The median of the last `capacity` values pushed, kept in order so that
// each new value costs a search and a short move.
class RunningMedian {
 public:
  explicit RunningMedian(std::size_t capacity) : capacity_(capacity) {
    ring_.reserve(capacity);
    sorted_.reserve(capacity);
  }

  void Push(double value) {
    if (ring_.size() < capacity_) {
      ring_.push_back(value);
    } else {
      const double oldest = std::exchange(ring_[head_], value);
      head_ = (head_ + 1) % capacity_;
      sorted_.erase(std::lower_bound(sorted_.begin(), sorted_.end(), oldest));
    }
    sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), value), value);
  }

  // Of at least one value.
  double Median() const {
    const std::size_t n = sorted_.size();
    return n % 2 == 1 ? sorted_[n / 2] : 0.5 * (sorted_[n / 2 - 1] + sorted_[n / 2]);
  }

 private:
  std::size_t capacity_;
  std::size_t head_ = 0;
  std::vector<double> ring_;
  std::vector<double> sorted_;
};

struct Level {
  float base = 0.0f;       // ambient offset, Pa
  float threshold = 0.0f;  // magnitude above the offset that starts a shot, Pa
};

}  // namespace

void CheckShotOptions(const ShotOptions& o) {
  CheckOne("threshold", o.threshold_db, 0.0, true, 100.0, "dB");
  CheckOne("min-peak", o.min_peak_db, 0.0, false, 220.0, "dB");
  CheckOne("pre", o.pre_ms, 0.0, false, 1000.0, "ms");
  CheckOne("post", o.post_ms, 0.0, true, 10000.0, "ms");
  CheckOne("min-gap", o.min_gap_ms, 0.0, false, 10000.0, "ms");
}

struct ShotDetector::State {
  State(double rate_in, const ShotOptions& options_in, Sink sink_in, int channel_in,
        std::int64_t origin_in)
      : rate(rate_in),
        options(options_in),
        sink(std::move(sink_in)),
        channel(channel_in),
        origin(origin_in),
        block_n(Samples(kBlockSeconds, rate)),
        pre_n(Samples(options.pre_ms / 1000.0, rate)),
        post_n(std::max<std::int64_t>(1, Samples(options.post_ms / 1000.0, rate))),
        gap_n(Samples(options.min_gap_ms / 1000.0, rate)),
        cut_n(std::max<std::int64_t>(1, Samples(kCutSeconds, rate))),
        quiet_n(std::max<std::int64_t>(cut_n, Samples(kQuietSeconds, rate))),
        threshold_factor(std::pow(10.0, options.threshold_db / 20.0)),
        min_peak_pa(Pascals(options.min_peak_db)),
        rms_median(kBackgroundBlocks),
        mean_median(kBackgroundBlocks),
        histogram(kHistogramBins, 0) {}

  // A shot whose window is still filling.
  struct Open {
    std::int64_t start = 0;  // indexes from the first pushed sample
    std::int64_t begin = 0;
    std::int64_t end = 0;  // one past the window
    double time = 0.0;     // in samples, interpolated
    Level level;
  };
  // A crossing inside the latest shot's gap, judged over the quiet span
  // that follows it.
  struct Candidate {
    std::int64_t start = 0;
    std::int64_t until = 0;
    double time = 0.0;
    Level level;
    float reference = 0.0f;  // the shot's largest magnitude before the crossing
    float peak = 0.0f;
  };

  void Push(std::span<const float> samples);
  void Ingest(std::span<const float> samples);
  void CompleteBlock();
  Level CurrentLevel() const;
  void Detect(std::int64_t limit);
  void Scan(std::int64_t from, std::int64_t to, Level level);
  std::int64_t PassQuiet(const float* x, std::int64_t i, std::int64_t to, Level level);
  void Judge(std::int64_t i, float value, Level level);
  void Crossing(std::int64_t i, float value, Level level);
  void Follow(std::int64_t i, float magnitude);
  void StartShot(std::int64_t start, double time, Level level, float peak);
  void EmitOpen();
  void Trim();
  ShotSummary Finish();

  const double rate;
  const ShotOptions options;
  Sink sink;
  const int channel;
  const std::int64_t origin;
  const std::int64_t block_n, pre_n, post_n, gap_n, cut_n, quiet_n;
  const double threshold_factor, min_peak_pa;

  // Samples from buffer_start on; `received` counts every pushed sample.
  std::vector<float> buffer;
  std::int64_t buffer_start = 0;
  std::int64_t received = 0;

  // The block being filled, summed in lanes by position in the block
  // (independent of how the samples were pushed) so the sums do not wait on
  // each other.
  static constexpr std::size_t kLanes = 8;
  std::array<double, kLanes> sum{}, sum_squares{};
  std::int64_t fill = 0;
  std::int64_t blocks = 0;  // completed
  // The RMS values and the means of the last 2 s.
  RunningMedian rms_median;
  RunningMedian mean_median;
  // Levels of the blocks from levels_block on, as they become known.
  std::deque<Level> levels;
  std::int64_t levels_block = 0;
  std::vector<std::uint32_t> histogram;

  std::int64_t next = 0;  // the next sample to judge
  bool armed = true;      // quiet for long enough to cross again
  std::int64_t last_above = 0;
  std::optional<Open> open;
  std::int64_t gap_end = 0;  // of the latest shot
  float gap_peak = 0.0f;     // its largest magnitude so far
  std::optional<Candidate> candidate;
  std::int64_t previous_end = 0;
  int emitted = 0;

  float peak_magnitude = 0.0f;
  float peak_value = 0.0f;
  std::int64_t peak_index = 0;
  bool finished = false;
};

void ShotDetector::State::Push(std::span<const float> samples) {
  if (finished) throw std::logic_error("ShotDetector::Push after Finish");
  while (!samples.empty()) {
    const std::size_t n = std::min(samples.size(), kChunk);
    Ingest(samples.first(n));
    samples = samples.subspan(n);
    Detect(std::min(received, (levels_block + static_cast<std::int64_t>(levels.size())) * block_n));
    Trim();
  }
}

void ShotDetector::State::Ingest(std::span<const float> samples) {
  // An infinite or NaN sample; the test is kept branch-free so that it
  // costs next to nothing.
  std::uint32_t bad = 0;
  const auto check = [&](float x) {
    // All exponent bits set: adding one to the exponent carries into the sign bit.
    bad |= (std::bit_cast<std::uint32_t>(x) & 0x7f800000u) + 0x00800000u;
  };
  std::size_t k = 0;
  for (; k + kRun <= samples.size(); k += kRun) {  // a fixed count the compiler vectorises
    for (std::size_t j = 0; j < kRun; ++j) check(samples[k + j]);
  }
  for (; k < samples.size(); ++k) check(samples[k]);
  if ((bad & 0x80000000u) != 0) {
    const auto at =
        std::find_if(samples.begin(), samples.end(), [](float x) { return !std::isfinite(x); });
    throw FormatError("sample " + FormatInteger(origin + received + (at - samples.begin())) +
                      " is not a finite number");
  }
  buffer.insert(buffer.end(), samples.begin(), samples.end());
  received += static_cast<std::int64_t>(samples.size());

  k = 0;
  while (k < samples.size()) {
    const auto run = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(samples.size() - k), block_n - fill));
    const float* x = samples.data() + k;
    const auto add = [&](std::size_t lane, double v) {
      sum[lane] += v;
      sum_squares[lane] += v * v;
    };
    const auto position = static_cast<std::size_t>(fill);
    std::size_t j = 0;
    for (; j < run && (position + j) % kLanes != 0; ++j) add((position + j) % kLanes, x[j]);
    for (; j + kLanes <= run; j += kLanes) {
      for (std::size_t lane = 0; lane < kLanes; ++lane) add(lane, x[j + lane]);
    }
    for (; j < run; ++j) add((position + j) % kLanes, x[j]);
    k += run;
    fill += static_cast<std::int64_t>(run);
    if (fill == block_n) CompleteBlock();
  }
}

void ShotDetector::State::CompleteBlock() {
  const double n = static_cast<double>(fill);
  double total = 0.0;
  double total_squares = 0.0;
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    total += sum[lane];
    total_squares += sum_squares[lane];
  }
  const double mean = total / n;
  const double mean_square = total_squares / n;
  const double rms = std::sqrt(std::max(0.0, mean_square - mean * mean));
  rms_median.Push(rms);
  mean_median.Push(mean);
  ++blocks;
  sum = {};
  sum_squares = {};
  fill = 0;

  const double bin = rms > 0.0 ? (Db(rms) - kHistogramFloorDb) / kHistogramStepDb : 0.0;
  ++histogram[static_cast<std::size_t>(std::clamp(bin, 0.0, kHistogramBins - 1.0))];

  // Until 2 s are in, every block waits for the first 2 s; after that, the
  // next block takes the 2 s before it.
  const auto w = static_cast<std::int64_t>(kBackgroundBlocks);
  if (blocks < w) return;
  if (blocks == w) levels.assign(kBackgroundBlocks, CurrentLevel());
  levels.push_back(CurrentLevel());
}

Level ShotDetector::State::CurrentLevel() const {
  return {static_cast<float>(mean_median.Median()),
          static_cast<float>(std::max(rms_median.Median() * threshold_factor, min_peak_pa))};
}

void ShotDetector::State::Detect(std::int64_t limit) {
  while (next < limit) {
    const std::int64_t block = next / block_n;
    while (levels_block < block) {
      levels.pop_front();
      ++levels_block;
    }
    const std::int64_t to = std::min(limit, (block + 1) * block_n);
    Scan(next, to, levels.front());
    next = to;
    // Emitted once no later crossing can cut its window any more.
    if (open && next >= open->end + cut_n &&
        (!candidate || candidate->start - cut_n >= open->end)) {
      EmitOpen();
    }
  }
}

void ShotDetector::State::Scan(std::int64_t from, std::int64_t to, Level level) {
  const float* x = buffer.data() + (from - buffer_start);
  std::int64_t one_by_one_until = from;
  for (std::int64_t i = from; i < to; ++i) {
    if (i >= one_by_one_until && armed && !candidate && i >= gap_end) {
      i = PassQuiet(x + (i - from), i, to, level);
      if (i == to) break;
      one_by_one_until = i + static_cast<std::int64_t>(kRun);
    }
    Judge(i, x[i - from], level);
  }
}

std::int64_t ShotDetector::State::PassQuiet(const float* x, std::int64_t i, std::int64_t to,
                                            Level level) {
  // Armed and outside any shot's gap only a crossing changes anything, so
  // whole runs without one are passed over: their largest magnitude is taken
  // on the bits of the (non-negative) floats, which the compiler does many at
  // a time. Returns where samples must be judged one by one: the start of a
  // run holding a crossing, or of the last samples too few for a run.
  const auto n = static_cast<std::int64_t>(kRun);
  while (to - i >= n) {
    std::int32_t largest = 0;
    std::uint32_t above = 0;
    for (std::size_t k = 0; k < kRun; ++k) {
      const float magnitude = std::abs(x[k] - level.base);
      largest = std::max(largest, std::bit_cast<std::int32_t>(magnitude));
      above |= static_cast<std::uint32_t>(magnitude > level.threshold);
    }
    if (above != 0) return i;
    if (std::bit_cast<float>(largest) > peak_magnitude) {
      std::int64_t k = 0;
      while (std::bit_cast<std::int32_t>(std::abs(x[k] - level.base)) != largest) ++k;
      peak_magnitude = std::bit_cast<float>(largest);
      peak_value = x[k] - level.base;
      peak_index = i + k;
    }
    x += n;
    i += n;
  }
  return i;
}

void ShotDetector::State::Judge(std::int64_t i, float value, Level level) {
  const float magnitude = std::abs(value - level.base);
  if (magnitude > peak_magnitude) {
    peak_magnitude = magnitude;
    peak_value = value - level.base;
    peak_index = i;
  }
  if (magnitude > level.threshold) {
    if (armed) {
      armed = false;
      Crossing(i, value, level);
    }
    last_above = i;
  } else if (!armed && i - last_above >= quiet_n) {
    armed = true;
  }
  if (candidate) {
    Follow(i, magnitude);
  } else if (i < gap_end) {
    gap_peak = std::max(gap_peak, magnitude);
  }
}

void ShotDetector::State::Crossing(std::int64_t i, float value, Level level) {
  // Where the signed pressure reached the level, between the sample before
  // and this one.
  double time = static_cast<double>(i);
  if (i > 0) {
    const float previous = buffer[static_cast<std::size_t>(i - 1 - buffer_start)];
    const float sign = value >= level.base ? 1.0f : -1.0f;
    const double before = sign * (previous - level.base);
    const double after = sign * (value - level.base);
    const double fraction =
        after > before ? std::clamp((level.threshold - before) / (after - before), 0.0, 1.0) : 1.0;
    time = static_cast<double>(i - 1) + fraction;
  }
  if (i < gap_end) {
    candidate = Candidate{i, i + cut_n, time, level, gap_peak, 0.0f};
  } else {
    StartShot(i, time, level, 0.0f);
  }
}

void ShotDetector::State::Follow(std::int64_t i, float magnitude) {
  Candidate& c = *candidate;
  c.peak = std::max(c.peak, magnitude);
  if (c.peak > c.reference) {
    const Candidate louder = c;
    candidate.reset();
    StartShot(louder.start, louder.time, louder.level, louder.peak);
  } else if (i + 1 >= c.until) {
    gap_peak = std::max(gap_peak, c.peak);
    candidate.reset();
  }
}

void ShotDetector::State::StartShot(std::int64_t start, double time, Level level, float peak) {
  if (open) {
    open->end = std::min(open->end, start - cut_n);
    EmitOpen();
  }
  open = Open{start, std::max({start - pre_n, previous_end, std::int64_t{0}}), start + post_n, time,
              level};
  gap_end = start + gap_n;
  gap_peak = peak;
}

void ShotDetector::State::EmitOpen() {
  const Open o = *open;
  open.reset();
  const std::int64_t end = std::min(o.end, received);
  Shot shot;
  shot.number = ++emitted;
  shot.channel = channel;
  shot.time_s = (static_cast<double>(origin) + o.time) / rate;
  shot.start_sample = origin + o.start;
  shot.first_sample = origin + o.begin;
  shot.samples = end - o.begin;
  const auto first = buffer.begin() + (o.begin - buffer_start);
  shot.window.assign(first, first + shot.samples);
  float largest = 0.0f;
  for (const float v : shot.window) {
    if (std::abs(v - o.level.base) > std::abs(largest)) largest = v - o.level.base;
  }
  shot.peak_pa = largest;
  shot.peak_db = Db(largest);
  shot.offset_pa = o.level.base;
  shot.threshold_db = Db(o.level.threshold);
  previous_end = end;
  sink(std::move(shot));
}

void ShotDetector::State::Trim() {
  // Kept: the window of the open shot, and what a crossing judged next (or a
  // candidate decided late) may still reach back to.
  std::int64_t keep = next - pre_n - cut_n - 1;
  if (open) keep = std::min(keep, open->begin);
  const std::int64_t drop = keep - buffer_start;
  if (drop <= 0 || static_cast<std::size_t>(drop) < std::max(kChunk, buffer.size() / 2)) return;
  buffer.erase(buffer.begin(), buffer.begin() + drop);
  buffer_start = keep;
}

ShotSummary ShotDetector::State::Finish() {
  if (finished) throw std::logic_error("ShotDetector::Finish called twice");
  finished = true;
  // A recording shorter than 2 s is judged by the median of what it holds;
  // one shorter than a block by its only, partial block.
  if (blocks == 0 && fill > 0) CompleteBlock();
  if (blocks > 0 && blocks < static_cast<std::int64_t>(kBackgroundBlocks)) {
    levels.resize(static_cast<std::size_t>((received + block_n - 1) / block_n), CurrentLevel());
  }
  Detect(received);
  if (candidate) {
    gap_peak = std::max(gap_peak, candidate->peak);
    candidate.reset();
  }
  if (open) EmitOpen();

  ShotSummary summary;
  summary.shots = emitted;
  summary.samples = received;
  std::uint64_t total = 0;
  for (const std::uint32_t count : histogram) total += count;
  if (total > 0) {
    std::uint64_t below = 0;
    std::size_t bin = 0;
    while (below + histogram[bin] <= (total - 1) / 2) below += histogram[bin++];
    if (bin > 0) {
      summary.background_db =
          kHistogramFloorDb + (static_cast<double>(bin) + 0.5) * kHistogramStepDb;
    }
  }
  summary.threshold_db =
      summary.background_db
          ? std::max(*summary.background_db + options.threshold_db, options.min_peak_db)
          : options.min_peak_db;
  summary.peak_pa = peak_value;
  if (peak_magnitude > 0.0f) summary.peak_db = Db(peak_magnitude);
  summary.peak_time_s = static_cast<double>(origin + peak_index) / rate;
  return summary;
}

ShotDetector::ShotDetector(double rate, const ShotOptions& options, Sink sink, int channel,
                           std::int64_t first_sample) {
  CheckShotOptions(options);
  if (!sink) throw std::invalid_argument("ShotDetector without a sink");
  if (!(rate >= 1000.0 && rate <= 1.0e7)) {
    throw Error("a sampling rate of " + FormatShortest(rate) +
                " Hz is out of range for finding shots (1000 Hz to 10 MHz)");
  }
  state_ = std::make_unique<State>(rate, options, std::move(sink), channel, first_sample);
}

ShotDetector::~ShotDetector() = default;

void ShotDetector::Push(std::span<const float> block) {
  state_->Push(block);
}

ShotSummary ShotDetector::Finish() {
  return state_->Finish();
}

ShotList FindShots(std::span<const float> samples, double rate, const ShotOptions& options,
                   int channel, std::int64_t first_sample) {
  ShotList list;
  ShotDetector detector(
      rate, options, [&](Shot&& shot) { list.shots.push_back(std::move(shot)); }, channel,
      first_sample);
  detector.Push(samples);
  list.summary = detector.Finish();
  return list;
}

std::string NoShotsText(const ShotSummary& s) {
  std::string text = "no shot found: ";
  if (s.samples == 0) return text + "the recording holds no samples";
  text += s.peak_db ? "the largest pressure is " + FormatFixed(*s.peak_db, 1) +
                          " dB re 20 uPa at " + FormatFixed(s.peak_time_s, 3) + " s"
                    : std::string("the channel is silent");
  text += s.background_db ? ", the background " + FormatFixed(*s.background_db, 1) + " dB"
                          : std::string(", the background below -40 dB");
  return text + ", the threshold " + FormatFixed(s.threshold_db, 1) + " dB";
}

}  // namespace korva
