#include "core/recording/shot_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/progress.h"
#include "core/recording/recording_shots.h"
#include "core/waveform/waveform.h"
#include "tests/support/range_recording.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::Echo;
using testing::Impulse;
using testing::RangeRecording;
using testing::TempDir;

// Three shots with echoes in noise over a recorder's DC offset, at a rate
// that keeps the windows short.
RangeRecording ThreeShots() {
  RangeRecording r;
  r.rate = 50000.0;
  r.duration_s = 3.0;
  r.noise_db = 80.0;
  r.offset_pa = 2.0;
  r.shots = {{0.5, 150.0, 0.0005, 1.0, {{0.012, -8.0}}},
             {1.5, 160.0, 0.001, 1.0, {{0.007, -6.0}, {0.02, -12.0}}},
             {2.3, 145.0, 0.0003, 1.0, {}}};
  return r;
}

// A shot's KRV file opens to the very waveform the analyses take from the
// recording: its samples with the offset taken off, and the header the file
// carries.
TEST(ShotFiles, AShotsWaveformIsWhatItsWrittenFileOpensTo) {
  TempDir dir;
  const RangeRecording recording = ThreeShots();
  testing::WriteRecordingFile(recording, dir / "day.wav");
  ShotSearch search;
  search.recording.calibration.scale = testing::kRecordingFullScalePa;
  search.shots.post_ms = 30.0;
  search.mic_location = 2;
  NoProgress quiet;
  const RecordingShots found = FindRecordingShots(dir / "day.wav", search, quiet);
  ASSERT_EQ(found.shots.size(), 3u);
  EXPECT_EQ(found.source.name, "day");

  for (const Shot& shot : found.shots) {
    SCOPED_TRACE(shot.number);
    const std::filesystem::path written = WriteShotFile(found.source, shot, dir.path());
    EXPECT_EQ(written.filename(), "day-shot00" + std::to_string(shot.number) + ".KRV");
    const Waveform opened = ReadWaveform(written, quiet);
    const Waveform direct = ShotWaveform(found.source, shot);
    EXPECT_EQ(direct.samples, opened.samples);
    EXPECT_EQ(direct.SampleRate, opened.SampleRate);
    EXPECT_EQ(direct.SampleInterval, opened.SampleInterval);
    EXPECT_EQ(direct.MicLocation, 2);
    EXPECT_EQ(direct.WaveformTitle, opened.WaveformTitle);
    EXPECT_EQ(direct.PeakPressure, opened.PeakPressure);
    // The quiet lead-in holds the noise alone, not the recorder's offset.
    double lead = 0.0;
    for (int i = 0; i < 100; ++i) lead += direct.samples[static_cast<std::size_t>(i)];
    EXPECT_NEAR(lead / 100.0, 0.0, 0.1);
  }
  const Waveform first = ShotWaveform(found.source, found.shots[0]);
  EXPECT_EQ(first.WaveformTitle, "day shot 1 at 0.500 s");
  const std::string comment = first.Grid.Cell(2, 2);
  EXPECT_EQ(
      comment.rfind("WAV, 32-bit float, 1 channel; channel 0, 0.495 s to 0.530 s; calibrated by a "
                    "scale of 10000 Pa per unit; ambient offset ",
                    0),
      0u)
      << comment;
}

// The overview's envelope holds each stretch's extremes, however the
// reader's blocks fall.
TEST(ShotFiles, TheEnvelopeHoldsEachStretchsLowestAndHighestSample) {
  RangeRecording recording = ThreeShots();
  recording.duration_s = 0.5;
  const std::vector<float> samples = testing::Render(recording);
  const auto n = static_cast<std::int64_t>(samples.size());
  for (const std::size_t block : {std::size_t{1000}, std::size_t{4093}, samples.size()}) {
    EnvelopeBuilder builder(recording.rate, 250, n, 300);
    for (std::size_t at = 0; at < samples.size(); at += block) {
      builder.Push(std::span(samples).subspan(at, std::min(block, samples.size() - at)));
    }
    const ChannelEnvelope e = builder.Finish();
    ASSERT_EQ(e.size(), 300u);
    EXPECT_DOUBLE_EQ(e.SecondsAt(0), 250 / recording.rate);
    EXPECT_DOUBLE_EQ(e.SecondsAt(300), (250 + n) / recording.rate);
    for (std::size_t k = 0; k < e.size(); ++k) {
      const auto from = samples.begin() + static_cast<std::int64_t>(k) * n / 300;
      const auto to = samples.begin() + static_cast<std::int64_t>(k + 1) * n / 300;
      ASSERT_EQ(e.low[k], *std::min_element(from, to)) << k;
      ASSERT_EQ(e.high[k], *std::max_element(from, to)) << k;
    }
  }
  // A channel shorter than the stretches has one per sample.
  EnvelopeBuilder few(1000.0, 0, 3);
  few.Push(std::vector<float>{1.0f, -2.0f, 3.0f});
  EXPECT_EQ(few.Finish().high, (std::vector<float>{1.0f, -2.0f, 3.0f}));
}

TEST(ShotFiles, WindowsLongerThanAFileHoldsAreRefusedBeforeReading) {
  EXPECT_NO_THROW(CheckShotWindowLength(ShotOptions{}, 200000.0));
  ShotOptions long_blasts;
  long_blasts.post_ms = 6000.0;
  try {
    CheckShotWindowLength(long_blasts, 200000.0);
    FAIL() << "a 6 s window at 200 kHz fits no waveform file";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("post to at most 5237 ms"), std::string::npos) << e.what();
  }
  EXPECT_NO_THROW(CheckShotWindowLength(long_blasts, 48000.0));
}

}  // namespace
}  // namespace korva
