#include "core/analysis/analysis.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/analysis/fields.h"
#include "core/common/error.h"
#include "core/common/pool.h"
#include "tests/core/model/model_test_support.h"

namespace korva {
namespace {

using testing::Friedlander;
using testing::PascalsForLevel;
using testing::TempDir;
using testing::WriteKrv;

AnalysisOptions Options(ThreadPool* pool = nullptr) {
  AnalysisOptions options;
  options.model_file = testing::TestModelPath();
  options.pool = pool;
  return options;
}

// Stops the work once asked to, from any thread.
class StopOnRequest final : public ProgressSink {
 public:
  void Report(long long done, long long total) override {
    if (done * 2 >= total) stop = true;
  }
  bool StopRequested() const override { return stop; }
  std::atomic<bool> stop{false};
};

// The hazard the driver reports is the run the window and the CLI make on
// the opened file, to the last bit, with the listeners and places on a pool
// or all on one thread; the descriptors are those of the interval.
TEST(Analyze, GivesTheOpenedFilesRunsAndDescriptorsWithOrWithoutAPool) {
  TempDir dir;
  const auto file = WriteKrv(dir, "SHOT.KRV", "2", Friedlander(2048, 5e-6f, PascalsForLevel(155)));
  Session opened{1 << 21};
  NoProgress none;
  OpenWaveform(opened, file, none);
  HazardRunOptions run;
  run.model_file = testing::TestModelPath();
  run.write_place_table = false;
  std::array<CochlearResult, 2> expected;
  for (const Listener listener : {Listener::Warned, Listener::Unwarned}) {
    Session copy = opened;
    run.listener = listener;
    expected[ListenerSlot(listener)] = RunHazardAnalysis(copy, run, none).cochlea;
  }

  ThreadPool pool(3);
  for (ThreadPool* threads : {static_cast<ThreadPool*>(nullptr), &pool}) {
    AnalysisOptions options = Options(threads);
    options.interval.from_ms = 0.5;
    const ShotReport shot = AnalyzeFile(file.string(), options, none);
    ASSERT_FALSE(shot.failed()) << shot.error;
    EXPECT_EQ(shot.samples, 2048);
    EXPECT_EQ(shot.mic_location, 2);
    EXPECT_EQ(shot.model.sha256, IdentifyModelFile(testing::TestModelPath()).sha256);
    for (std::size_t k = 0; k < 2; ++k) {
      ASSERT_TRUE(shot.hazard[k]);
      EXPECT_EQ(shot.hazard[k]->cochlea.TotalHazardARU, expected[k].TotalHazardARU);
      EXPECT_EQ(shot.hazard[k]->cochlea.SectionHazard, expected[k].SectionHazard);
    }
    EXPECT_EQ(shot.interval.first, 100);
    EXPECT_EQ(shot.descriptors.peak_db, DescribeShot("", opened, {100, 2047}).descriptors.peak_db);
    EXPECT_FALSE(std::filesystem::exists(dir / "SHOT.HAZ"));
  }
}

// A part that fails is an error of the result; the other parts go on.
TEST(Analyze, AFailedPartLeavesTheOthers) {
  TempDir dir;
  NoProgress none;
  const auto shot = [&](const std::string& location, AnalysisOptions options) {
    return AnalyzeFile(
        WriteKrv(dir, "SHOT.KRV", location, Friedlander(1024, 5e-6f, 2000.0)).string(), options,
        none);
  };
  // No middle ear for location 5: both runs fail, the description stands.
  const ShotReport nowhere = shot("5", Options());
  EXPECT_TRUE(nowhere.described && nowhere.measured);
  EXPECT_FALSE(nowhere.hazard[0] || nowhere.hazard[1]);
  EXPECT_EQ(nowhere.error, kBadLocationMessage);  // said once for both
  EXPECT_TRUE(nowhere.hazard_error[1].exception);

  // An interval off the waveform: the runs stand.
  AnalysisOptions off = Options();
  off.interval.first = 5000;
  const ShotReport outside = shot("1", off);
  EXPECT_FALSE(outside.described || outside.measured);
  EXPECT_TRUE(outside.hazard[0] && outside.hazard[1]);
  EXPECT_NE(outside.error.find("outside the waveform"), std::string::npos) << outside.error;

  // One listener's model file missing is that listener's error, naming it.
  AnalysisOptions missing = Options();
  missing.listeners = {Listener::Unwarned};
  missing.model_file = dir / "none.par";
  const ShotReport no_model = shot("1", missing);
  EXPECT_TRUE(no_model.described);
  EXPECT_NE(no_model.hazard_error[1].message.find("none.par"), std::string::npos);
  EXPECT_FALSE(no_model.hazard_error[0].failed());

  // A file that is no waveform is a failed shot with nothing else.
  const ShotReport broken =
      AnalyzeFile(dir.Write("BAD.KRV", "no samples\n").string(), Options(), none);
  EXPECT_FALSE(broken.opened);
  EXPECT_NE(broken.error.find("BAD.KRV"), std::string::npos) << broken.error;
}

TEST(AnalyzeFiles, KeepTheOrderGoOnPastABadFileAndStopWhenAsked) {
  TempDir dir;
  ThreadPool pool(2);
  std::vector<std::string> files;
  for (const double level : {140.0, 150.0, 160.0}) {
    files.push_back(WriteKrv(dir, "L" + FormatFixed(level, 0) + ".KRV", "1",
                             Friedlander(1024, 5e-6f, PascalsForLevel(level)))
                        .string());
  }
  files.insert(files.begin() + 1, (dir / "MISSING.KRV").string());
  NoProgress none;
  const std::vector<ShotReport> shots = AnalyzeFiles(files, Options(&pool), none);
  ASSERT_EQ(shots.size(), 4u);
  EXPECT_TRUE(shots[1].failed());
  for (const std::size_t k : {0u, 2u, 3u}) {
    EXPECT_EQ(shots[k].file, files[k]);
    EXPECT_FALSE(shots[k].failed()) << shots[k].error;
  }
  EXPECT_LT(*shots[0].descriptors.peak_db, *shots[2].descriptors.peak_db);
  EXPECT_LT(shots[2].hazard[1]->cochlea.TotalHazardARU, shots[3].hazard[1]->cochlea.TotalHazardARU);

  StopOnRequest stop;
  EXPECT_THROW(AnalyzeFiles(files, Options(&pool), stop), Cancelled);
  EXPECT_TRUE(stop.stop);
}

// Several threads may run analyses at once on one pool, as the Python
// package's threads do: each gets the result it would get alone.
TEST(Analyze, ThreadsSharingOnePoolGetTheResultsTheyWouldGetAlone) {
  const std::vector<float> samples = Friedlander(1024, 5e-6f, PascalsForLevel(160));
  Waveform waveform;
  waveform.samples = samples;
  waveform.SampleRate = 200000.0f;
  waveform.SampleInterval = 5e-6f;
  ThreadPool pool(2);
  NoProgress none;
  const ShotReport alone = Analyze("alone", waveform.View(), Options(), none);
  std::vector<ShotReport> shots(3);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < shots.size(); ++i) {
    threads.emplace_back([&, i] {
      NoProgress quiet;
      shots[i] = Analyze("thread", waveform.View(), Options(&pool), quiet);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const ShotReport& shot : shots) {
    ASSERT_FALSE(shot.failed()) << shot.error;
    for (std::size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(shot.hazard[k]->cochlea.SectionHazard, alone.hazard[k]->cochlea.SectionHazard);
    }
    EXPECT_EQ(shot.metrics.LAeq8hr, alone.metrics.LAeq8hr);
  }
}

// The columns callers rely on: korva-cli report --csv and Python's frames.
TEST(ShotFields, TheTableKeepsItsColumnsInOrder) {
  std::string columns;
  for (const Field* field : TableFields()) columns += field->Column() + ",";
  EXPECT_EQ(columns,
            "file,samples,rate,mic_location,from_ms,to_ms,peak_db,peak_pa,peak_time_ms,"
            "a_duration_ms,b_duration_ms,c_duration_ms,rise_time_ms,lcpeak_db,lae_db,lze_db,"
            "liaeq100ms_db,kurtosis,crest_factor_db,LAeqInterval,LAeq8hr,AllowedRounds,"
            "AWeightedExposure,LeqInterval,warned_aru,warned_aru_text,warned_allowed,"
            "warned_allowed_text,warned_worst_section,warned_fft_length,unwarned_aru,"
            "unwarned_aru_text,unwarned_allowed,unwarned_allowed_text,unwarned_worst_section,"
            "unwarned_fft_length,error,");
  // Levels say which reference they are in.
  for (const Field* field : FieldsOf(FieldGroup::kMetric)) {
    if (field->key.starts_with("L")) {
      EXPECT_EQ(field->unit, "dB (94 dB = 1 Pa)");
    }
  }
  EXPECT_EQ(FieldNamed("", "peak_db").unit, "dB re 20 uPa");
}

}  // namespace
}  // namespace korva
