#include "core/recording/shots.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/common/random.h"
#include "tests/support/range_recording.h"

namespace korva {
namespace {

using testing::Impulse;
using testing::RangeRecording;

double Db(double pa) {
  return 20.0 * std::log10(std::abs(pa) / 20.0e-6);
}

// Every shot at its true onset, none extra, windows apart and whole.
void ExpectFound(const RangeRecording& r, const ShotList& found, const ShotOptions& options = {}) {
  ASSERT_EQ(found.shots.size(), r.shots.size());
  EXPECT_EQ(found.summary.shots, static_cast<int>(r.shots.size()));
  const double dt = 1.0 / r.rate;
  const std::int64_t pre = std::llround(options.pre_ms / 1000.0 * r.rate);
  const std::int64_t post = std::llround(options.post_ms / 1000.0 * r.rate);
  const std::int64_t ms = std::llround(0.001 * r.rate);
  for (std::size_t k = 0; k < found.shots.size(); ++k) {
    const Shot& s = found.shots[k];
    const Impulse& truth = r.shots[k];
    SCOPED_TRACE("shot " + std::to_string(k + 1) + " at " + std::to_string(truth.onset_s));
    EXPECT_EQ(s.number, static_cast<int>(k + 1));
    // Within one sample of the onset, where the jump from the background
    // lies between two samples.
    EXPECT_NEAR(s.time_s, truth.onset_s, dt);
    // The first sample after the onset: at most a sample's decay below the
    // peak, give or take the noise.
    EXPECT_NEAR(s.peak_db, truth.peak_db, 1.0);
    ASSERT_EQ(s.window.size(), static_cast<std::size_t>(s.samples));
    EXPECT_LE(s.first_sample, s.start_sample);
    if (k + 1 < found.shots.size()) {
      const Shot& next = found.shots[k + 1];
      const bool cut = next.start_sample - ms < s.start_sample + post;
      EXPECT_EQ(s.first_sample + s.samples, cut ? next.start_sample - ms : s.start_sample + post);
      EXPECT_EQ(next.first_sample, std::max(next.start_sample - pre, s.first_sample + s.samples));
    }
  }
}

TEST(ShotDetector, RangeDaysGiveEveryShotAtItsOnsetAndNothingElse) {
  // Singles with echoes, a burst of 10 rounds 80 ms apart and a loud
  // echo-free blast, in white or pink noise of 70-100 dB over an offset and
  // a drift; the seeds cover both noises and the range of levels.
  for (const std::uint32_t seed : {1u, 2u, 6u, 12u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const RangeRecording r = testing::RangeDay(20.0, 8, 1, seed);
    const std::vector<float> samples = testing::Render(r);
    const ShotList found = FindShots(samples, r.rate);
    ExpectFound(r, found);
    // Each block's RMS leaves out its mean, and with it the pink noise's
    // lowest octaves: about 0.9 dB.
    ASSERT_TRUE(found.summary.background_db);
    EXPECT_NEAR(*found.summary.background_db, r.noise_db - (r.pink ? 0.9 : 0.0), 0.2);
    // A window is the pushed samples themselves.
    const Shot& last = found.shots.back();
    EXPECT_EQ(last.window.back(),
              samples[static_cast<std::size_t>(last.first_sample + last.samples - 1)]);
  }
}

TEST(ShotDetector, BlockSizesDoNotChangeTheResult) {
  const RangeRecording r = testing::RangeDay(6.0, 2, 1, 7);
  const std::vector<float> samples = testing::Render(r);
  const ShotList whole = FindShots(samples, r.rate);
  ExpectFound(r, whole);
  for (const std::size_t size : {1u, 7u, 2000u, 4099u, 1000003u}) {
    SCOPED_TRACE("blocks of " + std::to_string(size));
    std::vector<Shot> shots;
    ShotDetector detector(r.rate, {}, [&](Shot&& s) { shots.push_back(std::move(s)); });
    for (std::size_t i = 0; i < samples.size(); i += size) {
      detector.Push(std::span(samples).subspan(i, std::min(size, samples.size() - i)));
    }
    const ShotSummary summary = detector.Finish();
    ASSERT_EQ(shots.size(), whole.shots.size());
    for (std::size_t k = 0; k < shots.size(); ++k) {
      EXPECT_EQ(shots[k].time_s, whole.shots[k].time_s);
      EXPECT_EQ(shots[k].first_sample, whole.shots[k].first_sample);
      EXPECT_EQ(shots[k].peak_pa, whole.shots[k].peak_pa);
      EXPECT_EQ(shots[k].window, whole.shots[k].window);
    }
    EXPECT_EQ(summary.background_db, whole.summary.background_db);
    EXPECT_EQ(summary.peak_pa, whole.summary.peak_pa);
  }
}

TEST(ShotDetector, EchoesReverberationAndLongBlastsBelongToTheirShot) {
  RangeRecording r;
  r.duration_s = 4.5;
  r.noise_db = 80.0;
  // An echo 20 ms later at -6 dB belongs to its shot; an impulse 20 ms
  // after another and louder is a shot of its own, and cuts the first's
  // window 1 ms before it; rounds 45 ms apart, past the gap, are two shots.
  r.shots = {Impulse{0.500, 150.0, 0.0005, 1.0, {{0.020, -6.0}}},
             Impulse{1.200, 150.0, 0.0005, 1.0, {}},
             Impulse{1.220, 156.0, 0.0005, 1.0, {}},
             Impulse{2.000, 150.0, 0.0005, 1.0, {}},
             Impulse{2.045, 150.0, 0.0005, 1.0, {}},
             Impulse{3.000, 165.0, 0.0004, 1.0, {}}};
  // The last in a reverberant room: reflections 0.3 to 2 ms apart whose
  // level falls 20 dB in 100 ms, above the 120 dB floor for 400 ms.
  Lcg random(3);
  for (double delay = 0.0003; delay < 0.4; delay += 0.0003 + 0.0017 * random.Uniform()) {
    r.shots.back().echoes.push_back({delay, -3.0 - 20.0 * delay / 0.1});
  }
  // A large blast whose negative phase stays above the floor for 140 ms.
  r.shots.push_back(Impulse{3.7, 160.0, 0.010, 0.5, {}});
  const std::vector<float> samples = testing::Render(r);
  ShotList found = FindShots(samples, r.rate);
  ExpectFound(r, found);
  EXPECT_EQ(found.shots[1].first_sample + found.shots[1].samples, 244000 - 200);
  EXPECT_EQ(found.shots[2].first_sample, 244000 - 200);

  // Without a gap the echo is a shot too.
  ShotOptions no_gap;
  no_gap.min_gap_ms = 0.0;
  EXPECT_EQ(FindShots(std::span(samples).first(200000), r.rate, no_gap).shots.size(), 2u);
}

TEST(ShotDetector, StartIsInterpolatedToTheCrossing) {
  // Straight rises of 200 us to 150 dB cross the 120 dB level (20 Pa) 6.3 us
  // after their onsets, between two samples of the rise wherever the onset
  // falls.
  RangeRecording r;
  r.duration_s = 3.0;
  r.noise_db = 70.0;
  for (int k = 0; k < 8; ++k) {
    r.shots.push_back(Impulse{0.3 + 0.3 * k + 0.37e-6 * k, 150.0, 0.0005, 1.0, {}, 200e-6});
  }
  const ShotList found = FindShots(testing::Render(r), r.rate);
  ASSERT_EQ(found.shots.size(), r.shots.size());
  for (std::size_t k = 0; k < r.shots.size(); ++k) {
    const Impulse& s = r.shots[k];
    EXPECT_NEAR(found.shots[k].time_s, s.onset_s + s.rise_s * 20.0 / testing::PascalsOf(150.0),
                0.05e-6);
    EXPECT_EQ(found.shots[k].threshold_db, 20.0 * std::log10(20.0f / 20e-6));
  }
}

TEST(ShotDetector, ShotsAtTheEdgesOfShortRecordingsAndPartRuns) {
  // Shorter than the 2 s of background: judged by its own median. A shot
  // in the first milliseconds keeps the window inside the recording; the
  // last is cut at the end.
  RangeRecording r;
  r.rate = 48000.0;
  r.duration_s = 0.6;
  r.shots = {Impulse{0.002, 145.0, 0.001, 1.0, {}}, Impulse{0.45, 140.0, 0.0003, 1.0, {}}};
  const std::vector<float> samples = testing::Render(r);
  ShotOptions options;
  options.pre_ms = 10.0;
  const ShotList found = FindShots(samples, r.rate, options);
  ExpectFound(r, found, options);
  EXPECT_EQ(found.shots[0].first_sample, 0);
  EXPECT_EQ(found.shots[1].first_sample + found.shots[1].samples, std::ssize(samples));

  // A run that starts part way into a recording counts from its start.
  const std::int64_t offset = 480000;
  const ShotList later = FindShots(samples, r.rate, options, 3, offset);
  ASSERT_EQ(later.shots.size(), 2u);
  EXPECT_EQ(later.shots[1].start_sample, found.shots[1].start_sample + offset);
  EXPECT_NEAR(later.shots[1].time_s, found.shots[1].time_s + 10.0, 1e-9);
  EXPECT_EQ(later.shots[1].channel, 3);
}

TEST(ShotDetector, NoImpulseGivesNoShotAndTheLevels) {
  // 85 dB of noise on an offset of 15 Pa (117.5 dB) with a drift of 3 Pa:
  // only the noise counts, so nothing reaches 120 dB.
  RangeRecording r;
  r.duration_s = 8.0;
  r.noise_db = 85.0;
  r.offset_pa = 15.0;
  r.drift_pa = 3.0;
  r.drift_period_s = 120.0;
  const ShotList found = FindShots(testing::Render(r), r.rate);
  EXPECT_TRUE(found.shots.empty());
  ASSERT_TRUE(found.summary.background_db && found.summary.peak_db);
  EXPECT_NEAR(*found.summary.background_db, 85.0, 0.1);
  EXPECT_EQ(found.summary.threshold_db, 120.0);
  // The largest of 1.6 million Gaussian samples, 5 to 6 deviations, and
  // what the offset's estimate lags behind the drift; far from the offset.
  EXPECT_GT(*found.summary.peak_db, 85.0 + Db(5.0 * 20e-6));
  EXPECT_LT(*found.summary.peak_db, 85.0 + Db(7.0 * 20e-6));
  EXPECT_EQ(NoShotsText(found.summary),
            "no shot found: the largest pressure is " + FormatFixed(*found.summary.peak_db, 1) +
                " dB re 20 uPa at " + FormatFixed(found.summary.peak_time_s, 3) +
                " s, the background 85.0 dB, the threshold 120.0 dB");
}

TEST(ShotDetector, TheBackgroundAdaptsToLoudNoise) {
  // 115 dB of noise throughout: its peaks pass the 120 dB floor many times
  // a second, but not the background + 25 dB.
  RangeRecording loud;
  loud.duration_s = 10.0;
  loud.noise_db = 115.0;
  const ShotList steady = FindShots(testing::Render(loud), loud.rate);
  EXPECT_GT(*steady.summary.peak_db, 125.0);
  EXPECT_TRUE(steady.shots.empty());

  // Noise that jumps from 70 to 115 dB after 3 s: one shot at the jump; the
  // noise after it never falls quiet for long enough to cross again before
  // the background has risen with it.
  RangeRecording quiet = loud;
  quiet.noise_db = 70.0;
  std::vector<float> samples = testing::Render(quiet);
  const std::vector<float> noise = testing::Render(loud);
  for (std::size_t i = 600000; i < samples.size(); ++i) samples[i] = noise[i];
  const ShotList step = FindShots(samples, loud.rate);
  ASSERT_EQ(step.shots.size(), 1u);
  EXPECT_NEAR(step.shots.front().time_s, 3.0, 0.001);
}

TEST(ShotDetector, RefusesBadOptionsRatesAndSamples) {
  const auto refused = [](ShotOptions o, const std::string& name) {
    try {
      CheckShotOptions(o);
      ADD_FAILURE() << name << " accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("shot option " + name + " = "), std::string::npos)
          << e.what();
    }
  };
  ShotOptions o;
  o.threshold_db = 0.0;
  refused(o, "threshold");
  o = {};
  o.min_peak_db = std::nan("");
  refused(o, "min-peak");
  o = {};
  o.pre_ms = -1.0;
  refused(o, "pre");
  o = {};
  o.post_ms = 0.0;
  refused(o, "post");
  o = {};
  o.min_gap_ms = 1e5;
  refused(o, "min-gap");
  EXPECT_THROW(ShotDetector(500.0, {}, [](Shot&&) {}), Error);

  std::vector<float> samples(5000, 0.0f);
  samples[4321] = std::numeric_limits<float>::infinity();
  try {
    FindShots(samples, 48000.0);
    ADD_FAILURE() << "infinite sample accepted";
  } catch (const FormatError& e) {
    EXPECT_STREQ(e.what(), "sample 4321 is not a finite number");
  }
}

}  // namespace
}  // namespace korva
