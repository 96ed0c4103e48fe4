// Finding the shots in one channel of a long recording: each impulse with its
// echoes becomes a window of samples that can be analysed as a waveform of
// its own. The detector streams: samples arrive in blocks of any size, and
// each shot is handed on as soon as its window is closed, so neither the
// recording nor its shots are held whole.
//
// The rules, with the option that sets each (levels in dB re 20 uPa):
// - The background is the running median of the RMS values of consecutive
//   10 ms blocks over the last 2 s (over the first 2 s at the start, so that
//   a recording that opens with loud noise or with a shot is judged by its
//   own level). Each RMS is taken about its block's mean, and the ambient
//   offset, the median of the blocks' means over the same 2 s, is
//   subtracted from every sample before it is compared: a recorder's DC
//   offset or a slow drift is not sound, and the long negative phase of a
//   blast does not move it.
// - A shot starts at the first sample whose magnitude exceeds
//   max(background + threshold_db, min_peak_db); its start time is
//   interpolated to the crossing of that level.
// - A crossing needs 5 ms at or below the level before it, so the zero
//   crossings, ringing and reverberant tail of one impulse are not new
//   crossings.
// - Echoes: a crossing within min_gap_ms of a shot's start belongs to that
//   shot unless the 1 ms that follows it holds a sample louder than the shot
//   so far; a louder one starts a new shot. A crossing after the gap always
//   starts a new shot, so each round of a burst is a shot.
// - The window runs from pre_ms before the start to post_ms after it, cut
//   1 ms before the next shot's start and at the recording's ends; the next
//   window never begins before the previous one ended, so windows never
//   overlap.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korva {

struct ShotOptions {
  double threshold_db = 25.0;  // above the background, 0 < x <= 100
  double min_peak_db = 120.0;  // re 20 uPa, 0 to 220
  double pre_ms = 5.0;         // 0 to 1000
  double post_ms = 250.0;      // more than 0, to 10000
  double min_gap_ms = 40.0;    // 0 to 10000
};

// Throws Error naming the first value out of range or not a number.
void CheckShotOptions(const ShotOptions& options);

struct Shot {
  int number = 0;   // from 1, in order of time
  int channel = 0;  // as given to the detector
  // The interpolated crossing, in seconds from the recording's first sample.
  double time_s = 0.0;
  std::int64_t start_sample = 0;  // the first sample above the level
  std::int64_t first_sample = 0;  // the window's first sample
  std::int64_t samples = 0;       // the window's length
  // The largest magnitude in the window above the ambient offset, with its
  // sign (a microphone wired the other way gives negative peaks).
  double peak_pa = 0.0;
  double peak_db = 0.0;
  double offset_pa = 0.0;     // the ambient offset subtracted at the start
  double threshold_db = 0.0;  // the level the start crossed
  // The window's samples as they were pushed (the offset not removed), so a
  // shot cut here equals the same frames read again from the recording.
  std::vector<float> window;
};

// What a whole run saw; the levels a "no shot found" message gives.
struct ShotSummary {
  int shots = 0;
  std::int64_t samples = 0;
  // Median of every 10 ms RMS value of the run; empty when nothing was
  // pushed or the channel is silent (below -40 dB).
  std::optional<double> background_db;
  // max(background_db + threshold_db, min_peak_db) with that median.
  double threshold_db = 0.0;
  // The largest magnitude above the ambient offset, with its sign and time
  // from the recording's first sample; peak_db empty for a silent channel.
  double peak_pa = 0.0;
  std::optional<double> peak_db;
  double peak_time_s = 0.0;
};

class ShotDetector {
 public:
  using Sink = std::function<void(Shot&&)>;

  // `rate` in samples per second (1000 to 10,000,000); `first_sample` is the
  // recording's index of the first sample pushed, when a run starts part way
  // into a recording, so that times and indexes count from the recording's
  // start. Throws Error for bad options or rate.
  ShotDetector(double rate, const ShotOptions& options, Sink sink, int channel = 0,
               std::int64_t first_sample = 0);
  ~ShotDetector();
  ShotDetector(const ShotDetector&) = delete;
  ShotDetector& operator=(const ShotDetector&) = delete;

  // The next samples, in pascals. Hands every shot whose window closes to the
  // sink before returning. The result does not depend on how the samples are
  // divided into blocks. Throws FormatError for a sample that is not finite
  // (naming its index); after a throw, from here or from the sink, the
  // detector is spent.
  void Push(std::span<const float> block);

  // Ends the run: the last shot is handed on, the summary returned.
  ShotSummary Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// All shots of a channel held in memory, with the summary.
struct ShotList {
  std::vector<Shot> shots;
  ShotSummary summary;
};
ShotList FindShots(std::span<const float> samples, double rate, const ShotOptions& options = {},
                   int channel = 0, std::int64_t first_sample = 0);

// "no shot found: the largest pressure is 98.2 dB re 20 uPa at 3.214 s, the
// background 71.9 dB, the threshold 120.0 dB"
std::string NoShotsText(const ShotSummary& summary);

}  // namespace korva
