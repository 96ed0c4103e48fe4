#include "core/analysis/series.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "core/common/pool.h"
#include "core/recording/recording_import.h"
#include "core/waveform/krv.h"
#include "tests/core/model/model_test_support.h"
#include "tests/support/range_recording.h"
#include "tests/support/scripted_prompter.h"

namespace korva {
namespace {

using testing::RangeRecording;
using testing::TempDir;

// Shots in silence (no noise, no offset), so that a shot's window holds
// exactly the samples the generator made.
RangeRecording SilentRange() {
  RangeRecording r;
  r.rate = 50000.0;
  r.duration_s = 2.5;
  r.noise_db = -std::numeric_limits<double>::infinity();
  r.shots = {{0.4, 150.0, 0.0005, 1.0, {{0.01, -9.0}}},
             {1.2, 158.0, 0.001, 1.0, {}},
             {2.0, 145.0, 0.0003, 1.0, {{0.006, -6.0}}}};
  return r;
}

InputOptions Split() {
  InputOptions inputs;
  inputs.split = true;
  inputs.search.recording.calibration.scale = testing::kRecordingFullScalePa;
  inputs.search.shots.post_ms = 30.0;
  return inputs;
}

AnalysisOptions Options(ThreadPool* pool) {
  AnalysisOptions options;
  options.model_file = testing::TestModelPath();
  options.pool = pool;
  return options;
}

// The samples `shot` covers, written as a KRV file the ordinary way (not as
// a shot), and that file's analysis.
ShotReport DirectKrv(const TempDir& dir, const std::vector<float>& recording,
                     const ShotReport& shot, std::int64_t first, std::int64_t count,
                     const AnalysisOptions& options) {
  const std::vector<float> samples(recording.begin() + first, recording.begin() + first + count);
  WaveformView view;
  view.samples = samples;
  view.SampleRate = shot.rate;
  view.SampleInterval = 1.0f / shot.rate;
  Session session = SessionOf(view);
  const std::filesystem::path path =
      SaveKrvAs(session, dir / ("DIRECT" + std::to_string(*shot.shot) + ".KRV"));
  NoProgress quiet;
  return AnalyzeFile(path.string(), options, quiet);
}

// A shot cut from a recording gives the hazard of the same samples written
// directly as a KRV file, to the last bit; rows come in the order of the
// inputs and of time, each named by its shot.
TEST(AnalyzeInputs, AShotCutFromARecordingIsAnalysedAsTheSameSamplesWrittenAsAFile) {
  TempDir dir;
  const RangeRecording range = SilentRange();
  testing::WriteRecordingFile(range, dir / "range.wav");
  RecordingReader reader(dir / "range.wav");
  NoProgress quiet;
  const std::vector<float> recording =
      reader.ReadAll(0, reader.All(), testing::kRecordingFullScalePa, quiet);
  const std::filesystem::path krv = testing::WriteKrv(
      dir, "ALONE", "1", testing::Friedlander(2048, 1.0f / 50000.0f, 2000.0), 50000);
  ThreadPool pool(2);
  const std::vector<std::string> files = {krv.string(), (dir / "range.wav").string()};
  const InputsReport report = AnalyzeInputs(files, Split(), Options(&pool), quiet);

  ASSERT_EQ(report.rows.size(), 4u);
  EXPECT_FALSE(report.rows[0].shot.has_value());
  ASSERT_EQ(report.recordings.size(), 1u);
  const RecordingShots& found = report.recordings[0];
  ASSERT_EQ(found.shots.size(), 3u);
  for (std::size_t k = 1; k < report.rows.size(); ++k) {
    const ShotReport& row = report.rows[k];
    const Shot& shot = found.shots[k - 1];
    SCOPED_TRACE(ShotName(row));
    ASSERT_FALSE(row.failed()) << row.error;
    EXPECT_EQ(row.file, files[1]);
    EXPECT_EQ(row.shot, static_cast<int>(k));
    EXPECT_EQ(row.time_s, shot.time_s);
    EXPECT_TRUE(shot.window.empty()) << "the windows are let go once analysed";
    const ShotReport direct =
        DirectKrv(dir, recording, row, shot.first_sample, shot.samples, Options(&pool));
    for (const std::size_t listener : {0, 1}) {
      ASSERT_TRUE(row.hazard[listener] && direct.hazard[listener]);
      EXPECT_EQ(row.hazard[listener]->cochlea.TotalHazardARU,
                direct.hazard[listener]->cochlea.TotalHazardARU);
      EXPECT_EQ(row.hazard[listener]->cochlea.SectionHazard,
                direct.hazard[listener]->cochlea.SectionHazard);
    }
    EXPECT_EQ(row.descriptors.peak_db, direct.descriptors.peak_db);
  }
  EXPECT_EQ(ShotName(report.rows[2]), files[1] + " shot 2 at 1.200 s");
  const ShotSummary summary = SummariseShots(report.rows);
  EXPECT_EQ(summary.shots, 3);
  EXPECT_EQ(summary.files, 2) << "the KRV file and the recording";
  EXPECT_EQ(RowsText(summary), "3 shots of 1 recording and 1 file");
}

// Pictures are drawn for the loudest shots only: the others let their
// waveforms go. A recording with no shot, or none readable, is a failed row
// that says why; one analysed whole is its imported file's waveform.
TEST(AnalyzeInputs, KeepsTheLoudestWaveformsAndReportsRecordingsWithoutShots) {
  TempDir dir;
  const RangeRecording range = SilentRange();
  testing::WriteRecordingFile(range, dir / "range.wav");
  RangeRecording quiet_day = SilentRange();
  quiet_day.shots.clear();
  quiet_day.noise_db = 70.0;
  testing::WriteRecordingFile(quiet_day, dir / "quiet.wav");
  const std::vector<std::string> files = {
      (dir / "range.wav").string(), (dir / "quiet.wav").string(),
      dir.Write("damaged.wav", "RIFF\x10\0\0\0WAVEfmt ").string()};
  InputOptions inputs = Split();
  inputs.keep_loudest = 1;
  AnalysisOptions options = Options(nullptr);
  options.listeners = {Listener::Warned};
  options.keep_waveform = true;
  NoProgress quiet;
  const InputsReport report = AnalyzeInputs(files, inputs, options, quiet);

  ASSERT_EQ(report.rows.size(), 5u);
  EXPECT_EQ(report.rows[0].waveform, nullptr);
  EXPECT_NE(report.rows[1].waveform, nullptr) << "the 158 dB shot is the loudest";
  EXPECT_EQ(report.rows[2].waveform, nullptr);
  EXPECT_TRUE(report.rows[3].failed());
  EXPECT_EQ(report.rows[3].error.rfind("no shot found: the largest pressure is", 0), 0u)
      << report.rows[3].error;
  EXPECT_TRUE(report.rows[4].failed());
  EXPECT_NE(report.rows[4].error.find("damaged.wav"), std::string::npos) << report.rows[4].error;
  EXPECT_EQ(report.recordings.size(), 2u) << "the searched recordings, shots or none";

  // Whole: the recording's samples as `korva-cli import` writes them.
  inputs.split = false;
  inputs.search.recording.to_s = 0.5;
  const InputsReport whole = AnalyzeInputs(std::span(files).first(1), inputs, options, quiet);
  ASSERT_EQ(whole.rows.size(), 1u);
  Session imported;
  RecordingImportOptions import;
  import.request.channel = 0;
  import.request.calibration.scale = testing::kRecordingFullScalePa;
  import.request.to_s = 0.5;
  testing::ScriptedPrompter no_questions;
  ImportRecordingFile(imported, files[0], import, no_questions, quiet);
  const std::filesystem::path krv = SaveKrvAs(imported, dir / "IMPORTED.KRV");
  const ShotReport expected = AnalyzeFile(krv.string(), options, quiet);
  ASSERT_TRUE(whole.rows[0].hazard[0] && expected.hazard[0]);
  EXPECT_EQ(whole.rows[0].hazard[0]->cochlea.TotalHazardARU,
            expected.hazard[0]->cochlea.TotalHazardARU);
  EXPECT_EQ(whole.rows[0].samples, expected.samples);
  EXPECT_TRUE(whole.recordings.empty());
}

}  // namespace
}  // namespace korva
