#include "core/metrics/edits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/common/error.h"
#include "tests/core/metrics/waveforms.h"
#include "tests/support/scripted_prompter.h"

namespace korva {
namespace {

using testing::ScriptedPrompter;
using testing::SessionWith;

constexpr float kDt = 1.0e-5f;

std::vector<float> Ramp(std::int32_t count, float step = 1.0f) {
  std::vector<float> x(static_cast<std::size_t>(count));
  for (std::int32_t k = 0; k < count; ++k) x[static_cast<std::size_t>(k)] = step * (k + 1);
  return x;
}

// A plot one pixel per sample, so that a line at left + i means sample i.
PlotRect OnePixelPerSample(const Session& session) {
  return {100, 0, session.LastSample, 300};
}

TEST(CursorIndices, FollowTheEdgeRulesAndNeverLeaveTheWaveform) {
  const PlotRect plot{100, 0, 1000, 300};
  const Selection ordered = SelectionFromCursors(1000, {600, 300}, plot);
  EXPECT_EQ(ordered.first, 200);
  EXPECT_EQ(ordered.last, 500);
  // Left of the plot: the edge for the first line, one pixel in for the second.
  EXPECT_EQ(SelectionFromCursors(1000, {-50, 20}, plot).last, 1);
  // Past the right edge: the last sample, not beyond; no 32-bit overflow.
  EXPECT_EQ(SelectionFromCursors(1000, {300, 1900}, plot).last, 1000);
  EXPECT_EQ(SampleAtX(4000000, 60 + 1900, {60, 0, 1900, 400}), 4000000);
}

TEST(SelectSegment, KeepsTheSelectionAndItsTimePosition) {
  Session session = SessionWith(Ramp(1001), kDt);
  const PlotRect plot = OnePixelPerSample(session);
  SelectSegment(session, {plot.left + 400, plot.left + 200}, plot);
  EXPECT_EQ(session.LastSample, 200);
  EXPECT_EQ(session.Pressure[0], 201.0f);
  EXPECT_EQ(session.Pressure[200], 401.0f);
  EXPECT_EQ(session.Pressure[201], 0.0f);  // nothing of the old waveform past the end
  EXPECT_FLOAT_EQ(session.StartTime, 200 * kDt);
  EXPECT_EQ(session.Grid.Cell(1, 4), "201");
  // Both lines on one pixel keep one sample and move StartTime to it.
  SelectSegment(session, {150, 150}, {100, 0, 200, 300});
  EXPECT_EQ(session.LastSample, 0);
  EXPECT_EQ(session.Pressure[0], 251.0f);
  EXPECT_FLOAT_EQ(session.StartTime, 250 * kDt);
}

TEST(SetBaseline, RemovesTheMeanOfTheChosenStretchFromTheWholeWaveform) {
  auto x = Ramp(4001, 0.25f);
  std::fill(x.begin() + 1000, x.begin() + 2001, 0.75f);  // an offset of 0.75 there
  Session session = SessionWith(x, kDt);
  const PlotRect plot = OnePixelPerSample(session);
  const std::int32_t saved =
      ExpandBaselineSelection(session, {plot.left + 1000, plot.left + 2000}, plot);
  EXPECT_EQ(session.LastSample, 1000);  // the stretch fills the view
  const PlotRect enlarged = OnePixelPerSample(session);
  ApplyBaseline(session, saved, {enlarged.left, enlarged.left + 1000}, enlarged);
  EXPECT_EQ(session.LastSample, 4000);
  for (std::int32_t k : {0, 1000, 2000, 4000}) {
    EXPECT_EQ(session.Pressure[k], x[static_cast<std::size_t>(k)] - 0.75f) << k;
  }
  EXPECT_FLOAT_EQ(session.MinPressure, 0.25f - 0.75f);
}

TEST(TaperEnds, FadesOnlyTheEndsAndNeverWritesNaN) {
  const auto x = Ramp(1001);
  Session session = SessionWith(x, kDt);
  const PlotRect plot = OnePixelPerSample(session);
  TaperEnds(session, {plot.left + 100, plot.left + 900}, plot);
  EXPECT_EQ(session.Pressure[0], 0.0f);
  EXPECT_EQ(session.Pressure[1000], 0.0f);
  for (std::int32_t k = 100; k < 900; ++k) ASSERT_EQ(session.Pressure[k], x[k]) << k;
  EXPECT_NEAR(session.Pressure[50], 0.5 * x[50], 1e-3);    // halfway up
  EXPECT_NEAR(session.Pressure[950], 0.5 * x[950], 1e-3);  // halfway down
  // Second line on the last sample: no fade-out rather than 0/0.
  Session to_end = SessionWith(x, kDt);
  TaperEnds(to_end, {plot.left + 100, plot.left + 1000}, plot);
  EXPECT_EQ(to_end.Pressure[1000], x[1000]);
  EXPECT_TRUE(std::isfinite(to_end.Pressure[999]));
}

// An impulse at `onset` rising to `peak` Pa over 20 samples, then decaying.
std::vector<float> Impulse(std::int32_t count, std::int32_t onset, float peak) {
  std::vector<float> x(static_cast<std::size_t>(count), 0.0f);
  for (std::int32_t k = 0; k < 200; ++k) {
    x[static_cast<std::size_t>(onset + k)] =
        k < 20 ? peak * (k + 1) / 20 : peak * std::exp(-(k - 20) / 30.0f);
  }
  return x;
}

TEST(EstablishStart, MovesTheOnsetToFiveMilliseconds) {
  // 150 dB (632 Pa): the onset is where the impulse passes 100 Pa, at 10 ms.
  const auto loud = Impulse(4096, 1000, 632.0f);
  Session session = SessionWith(loud, kDt);
  const EstablishStartView view = BeginEstablishStart(session);
  EXPECT_EQ(view.threshold, 100.0f);
  EXPECT_EQ(view.onset, 1003);          // 632 x 4/20 = 126 Pa is the first >= 100
  EXPECT_EQ(session.LastSample, 2038);  // temporary view to twice the peak index
  const PlotRect plot = OnePixelPerSample(session);
  ShowStartLevel(session, plot.left + view.onset, plot, false);
  EXPECT_EQ(session.Grid.Cell(1, 8), "136.0");  // 20 log10(126.4) + 94
  EXPECT_EQ(session.Grid.Cell(2, 8), "dB at 5.0 msec");
  ShowStartLevel(session, plot.left + view.onset, plot, true);
  EXPECT_EQ(session.Grid.Cell(2, 8), "dB at 10.03 msec.");
  // Onset after 5 ms: the leading samples are dropped.
  FinishEstablishStart(session, view, plot.left + view.onset, plot);
  EXPECT_EQ(session.LastSample, 4095 - 503);
  EXPECT_EQ(session.Pressure[500], loud[1003]);
  EXPECT_EQ(session.Pressure[4095], 0.0f);
  EXPECT_EQ(session.Grid.Cell(2, 8), "dB at 5.0 msec.");

  // 130 dB (63 Pa): 2 % of the peak. Onset at 2 ms: padded in front.
  const auto quiet = Impulse(4096, 200, 63.0f);
  Session early = SessionWith(quiet, kDt);
  const EstablishStartView v2 = BeginEstablishStart(early);
  EXPECT_FLOAT_EQ(v2.threshold, 63.0f / 50.0f);
  const PlotRect p2 = OnePixelPerSample(early);
  FinishEstablishStart(early, v2, p2.left + v2.onset, p2);
  EXPECT_EQ(early.LastSample, 4095 + 300);
  EXPECT_EQ(early.Pressure[299], 0.0f);
  EXPECT_EQ(early.Pressure[500], quiet[200]);
  EXPECT_EQ(early.Pressure[4395], quiet[4095]);

  // Padding past the capacity is refused with the waveform as it was.
  std::vector<float> full(static_cast<std::size_t>(kMinSampleCapacity - 10), 0.0f);
  full[0] = 500.0f;
  Session big = SessionWith(full, kDt);
  const EstablishStartView v3 = BeginEstablishStart(big);
  EXPECT_THROW(FinishEstablishStart(big, v3, 100, {100, 0, 1000, 300}), Error);
  EXPECT_EQ(big.LastSample, kMinSampleCapacity - 11);
  EXPECT_EQ(big.Pressure[0], 500.0f);
}

TEST(Calibration, ScalesToTheTypedPeakInEachUnit) {
  const std::vector<float> x = {0.5f, -2.0f, 1.25f, 0.0f};
  Session atm = SessionWith(x, kDt);
  ApplyCalibration(atm, 1, 1.0f);
  EXPECT_FLOAT_EQ(atm.PeakPressure, 101300.0f);
  Session ppl = SessionWith(x, kDt);
  ApplyCalibration(ppl, 3, 166.0f);
  EXPECT_NEAR(ppl.PeakPressure, std::pow(10.0, 3.6), 0.01);

  Session psi = SessionWith(x, kDt);
  ScriptedPrompter prompter;
  prompter.Text("2");
  EXPECT_EQ(Calibrate(psi, prompter, 8), 2.0f);
  EXPECT_EQ(prompter.asked().at(0).question, "P.S.I. from 0.000 to 1000.000");
  EXPECT_EQ(prompter.asked().at(0).proposed, "1.000");
  EXPECT_FLOAT_EQ(psi.PeakPressure, 2 * 6895.0f);

  // No positive sample, no peak to set: refused, the waveform stays.
  Session negative = SessionWith({-1.0f, -3.0f, -0.5f}, kDt);
  EXPECT_THROW(ApplyCalibration(negative, 1, 1.0f), Error);
  EXPECT_EQ(negative.Pressure[1], -3.0f);
  Session silent = SessionWith({0.0f, 0.0f}, kDt);
  EXPECT_THROW(ApplyCalibration(silent, 7, 100.0f), Error);
}

TEST(Resample, InterpolatesToTheNewRateAndRefusesImpossibleLengths) {
  Session session = SessionWith(Ramp(4096, 0.5f), kDt);
  session.Pressure[5000] = 9.0f;  // a stale sample past the end
  session.StartTime = 0.002f;
  ScriptedPrompter prompter;
  prompter.Confirm(true).Text("50000");
  ASSERT_TRUE(Resample(session, prompter));
  EXPECT_EQ(prompter.asked().at(0).question,
            "Sample rate = 100000 samples/sec. Change sample rate?");
  // T = 4095 x 10 us; n = trunc(T / 20 us) = 2047.
  EXPECT_EQ(session.LastSample, 2047);
  EXPECT_FLOAT_EQ(session.SampleInterval, 2.0e-5f);
  EXPECT_EQ(session.Grid.Cell(1, 2), "50000");
  EXPECT_EQ(session.Grid.Cell(1, 4), "2048");
  for (std::int32_t i : {1, 1000, 2047}) EXPECT_NEAR(session.Pressure[i], i + 0.5, 1e-3) << i;
  EXPECT_EQ(session.Pressure[5000], 0.0f);
  EXPECT_FLOAT_EQ(session.EndTime, 0.002f + 2047 * 2.0e-5f);  // the view covers the waveform

  ScriptedPrompter no;
  no.Confirm(false);
  EXPECT_FALSE(Resample(session, no));
  // A second at 10 MHz would outgrow the arrays; at 0.5 Hz one sample is left.
  Session slow = SessionWith(Ramp(1001), 1.0e-3f);
  EXPECT_THROW(ResampleTo(slow, 1.0e7f), Error);
  EXPECT_THROW(ResampleTo(slow, 0.5f), Error);
  EXPECT_EQ(slow.LastSample, 1000);
  EXPECT_FLOAT_EQ(slow.SampleInterval, 1.0e-3f);
}

TEST(Statistics, KeepsAndRestoresTheWaveform) {
  Session session = SessionWith(Ramp(3000), kDt);
  const std::int32_t saved = BeginStatistics(session);
  session.Pressure[10] = -7.0f;
  session.LastSample = 10;
  FinishStatistics(session, saved);
  EXPECT_EQ(session.LastSample, 2999);
  EXPECT_EQ(session.Pressure[10], 11.0f);
  session.LastSample = kMaxStatisticsLastSample + 1;
  EXPECT_THROW(BeginStatistics(session), Error);
}

}  // namespace
}  // namespace korva
