#include "core/recording/calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/recording/recording_import.h"
#include "tests/support/recordings.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::RecordingFixtures;
using testing::TempDir;

double Decibels(double ratio) {
  return 20.0 * std::log10(ratio);
}

std::string RefusalOf(const CalibrationRequest& request) {
  NoProgress progress;
  try {
    ResolveCalibration(request, 1.0, 0, {}, progress);
  } catch (const Error& e) {
    return e.what();
  }
  ADD_FAILURE() << "no refusal";
  return "";
}

TEST(Calibrator, AToneOfKnownLevelGivesTheScaleInTheRecordingsOwnUnits) {
  TempDir dir;
  // A 94 dB (1.0024 Pa RMS) calibrator recorded at half of full scale in
  // 16 bits, for a recording in 24 bits.
  testing::WriteTone(dir / "cal.wav", 1000.0, 0.5, "--rate 48000 --seconds 3");
  CalibrationRequest request;
  request.calibrator = dir / "cal.wav";
  request.calibrator_level = 94.0;
  NoProgress progress;
  const Calibration c = ResolveCalibration(request, std::ldexp(1.0, 23), 0, {}, progress);
  const double pascals_rms = 20.0e-6 * std::pow(10.0, 94.0 / 20.0);
  const double expected = pascals_rms / (0.5 / std::sqrt(2.0)) / std::ldexp(1.0, 23);
  EXPECT_NEAR(Decibels(c.pa_per_unit / expected), 0.0, 0.01);
  ASSERT_TRUE(c.tone);
  EXPECT_NEAR(c.tone->frequency, 1000.0, 0.1);
  EXPECT_LT(c.tone->spread_db, 0.05);
  EXPECT_TRUE(c.calibrated);
  EXPECT_EQ(c.text.rfind("calibrated by calibrator cal.wav (channel 0): 94.0 dB at 1000.0 Hz", 0),
            0u)
      << c.text;
}

TEST(Calibrator, AToneOffItsFrequencyOrUnsteadyIsRefused) {
  TempDir dir;
  testing::WriteTone(dir / "piston.wav", 250.0, 0.3);
  testing::WriteTone(dir / "step.wav", 1000.0, 0.3, "--step-db 3");
  testing::WriteTone(dir / "short.wav", 1000.0, 0.3, "--seconds 0.4");
  CalibrationRequest request;
  request.calibrator_level = 124.0;

  request.calibrator = dir / "piston.wav";
  EXPECT_NE(RefusalOf(request).find("piston.wav: its tone is at 250.0 Hz, outside 900 to 1100 Hz"),
            std::string::npos);
  request.calibrator_frequency = 250.0;
  NoProgress progress;
  EXPECT_NEAR(ResolveCalibration(request, 1.0, 0, {}, progress).tone->frequency, 250.0, 0.1);

  request.calibrator_frequency.reset();
  request.calibrator = dir / "step.wav";
  EXPECT_NE(RefusalOf(request).find("step.wav: not a steady calibrator tone: its 100 ms levels "
                                    "spread over 3.00 dB"),
            std::string::npos);
  request.calibrator = dir / "short.wav";
  EXPECT_NE(RefusalOf(request).find("short.wav: too short"), std::string::npos);

  request.calibrator_level.reset();
  EXPECT_NE(RefusalOf(request).find("needs the calibrator's level"), std::string::npos);
  request.calibrator.reset();
  request.scale = 2.0;
  request.sensitivity = 50.0;
  EXPECT_NE(RefusalOf(request).find("give one calibration"), std::string::npos);
}

TEST(Sensitivity, FullScaleVoltsOverMillivoltsPerPascal) {
  // 50 mV/Pa with 10 V at full scale: a float sample of 1 is 200 Pa, a
  // 16-bit sample of 32768 too.
  CalibrationRequest request;
  request.sensitivity = 50.0;
  request.full_scale = 10.0;
  NoProgress progress;
  RecordingReader floats(RecordingFixtures() / "float3.wav");
  const Calibration c = ResolveCalibration(request, floats.Info().FullScale(), 2, {}, progress);
  EXPECT_DOUBLE_EQ(c.pa_per_unit, 200.0);
  const std::vector<float> pascals = floats.ReadAll(2, floats.All(), c.pa_per_unit, progress);
  EXPECT_EQ(pascals[3], static_cast<float>(testing::PatternFloat(3, 2) * 200.0));
  EXPECT_DOUBLE_EQ(ResolveCalibration(request, 32768.0, 0, {}, progress).pa_per_unit,
                   200.0 / 32768.0);
}

TEST(ImportRecordingFile, ARefusalHalfwayLeavesTheSessionAsItWas) {
  TempDir dir;
  testing::WriteTone(dir / "piston.wav", 250.0, 0.3);
  Session session(1 << 20);
  testing::ScriptedPrompter prompter({});
  NoProgress progress;
  RecordingImportOptions options;
  options.request.channel = 1;
  ImportRecordingFile(session, RecordingFixtures() / "pcm16.caf", options, prompter, progress);
  const HeaderGrid before = session.Grid;
  ASSERT_EQ(session.SampleCount(), 1000);
  EXPECT_EQ(session.Pressure[2], testing::PatternInteger(2, 1, 16));
  EXPECT_EQ(session.Grid.Cell(2, 2), "CAF, 16-bit integer, 2 channels; channel 1; uncalibrated");

  options.request.from_s = 0.005;
  options.request.calibration.calibrator = dir / "piston.wav";
  options.request.calibration.calibrator_level = 114.0;
  EXPECT_THROW(
      ImportRecordingFile(session, RecordingFixtures() / "pcm24.aiff", options, prompter, progress),
      Error);
  EXPECT_EQ(session.Grid, before);
  EXPECT_EQ(session.SampleCount(), 1000);
  EXPECT_EQ(session.Pressure[2], testing::PatternInteger(2, 1, 16));
}

}  // namespace
}  // namespace korva
