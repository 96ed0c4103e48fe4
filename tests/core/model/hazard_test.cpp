#include "core/model/hazard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/krv.h"
#include "tests/core/model/model_test_support.h"
#include "tests/support/stopping_progress.h"

namespace korva {
namespace {

using testing::Friedlander;
using testing::PascalsForLevel;
using testing::TempDir;
using testing::WriteKrv;

TEST(HazardText, DecimalsFollowTheSizeOfTheHazard) {
  EXPECT_EQ(HazardText(0.01234f), "0.0123");
  EXPECT_EQ(AllowedExposuresText(0.01234f), "40518.6");
  EXPECT_EQ(HazardText(0.99994f), "0.9999");
  EXPECT_EQ(HazardText(1.0f), "1.000");
  EXPECT_EQ(HazardText(9.9994f), "9.999");
  EXPECT_EQ(HazardText(10.0f), "10.00");
  EXPECT_EQ(HazardText(99.5f), "99.50");
  EXPECT_EQ(HazardText(100.0f), "100.0");
  EXPECT_EQ(HazardText(999.94f), "999.9");
  EXPECT_EQ(HazardText(1000.0f), "1000");
  EXPECT_EQ(HazardText(123456.7f), "123457");
  EXPECT_EQ(AllowedExposuresText(1000.0f), "0.5");
  // No hazard: no division by zero, and a text that says what it means.
  EXPECT_EQ(HazardText(0.0f), "0.0000");
  EXPECT_EQ(AllowedExposuresText(0.0f), "unlimited");
  EXPECT_EQ(TrimLeadingChar("   12.5 ", ' '), "12.5 ");
  EXPECT_EQ(TrimLeadingChar("xxx", 'x'), "");
}

// A session opened from a KRV file as the Open command does.
struct Opened {
  TempDir dir;
  Session session{1 << 21};
  std::filesystem::path krv;

  Opened(const std::string& location, const std::vector<float>& samples) {
    krv = WriteKrv(dir, "SHOT.KRV", location, samples);
    NoProgress none;
    OpenWaveform(session, krv, none);
  }
};

HazardRunOptions Options(Listener listener) {
  HazardRunOptions o;
  o.listener = listener;
  o.model_file = testing::TestModelPath();
  return o;
}

TEST(HazardDriver, WarnedThenUnwarnedFillBothRowsAndWriteThePlaceTable) {
  Opened w("1", Friedlander(4096, 5e-6f, PascalsForLevel(160)));
  NoProgress none;
  const HazardRunResult warned = RunHazardAnalysis(w.session, Options(Listener::Warned), none);
  const HazardRunResult unwarned = RunHazardAnalysis(w.session, Options(Listener::Unwarned), none);
  const HeaderGrid& g = w.session.Grid;
  EXPECT_EQ(g.Cell(0, 5), "Number of exposures with no protector, warned");
  EXPECT_EQ(g.Cell(0, 6), "Number of exposures with no protector, unwarned");
  EXPECT_EQ(g.Cell(1, 5), warned.AllowedText);
  EXPECT_EQ(g.Cell(2, 5), warned.HazardText + " A.R.U.");
  EXPECT_EQ(g.Cell(1, 6), unwarned.AllowedText);
  EXPECT_EQ(g.Cell(2, 6), unwarned.HazardText + " A.R.U.");
  EXPECT_TRUE(w.session.MovieAvailable);
  // A loud impulse: the hazard is real, and the warned reflex protects.
  EXPECT_GT(unwarned.cochlea.TotalHazardARU, 1.0f);
  EXPECT_LT(warned.cochlea.TotalHazardARU, unwarned.cochlea.TotalHazardARU);
  EXPECT_EQ(warned.ModelStateCount, 24);
  // The place table of the last run sits next to the waveform.
  const std::filesystem::path table = w.dir / "SHOT.HAZ";
  EXPECT_EQ(unwarned.place_table_path, table);
  EXPECT_EQ(ReadWholeFile(table), unwarned.PlaceTable);
  ASSERT_TRUE(unwarned.movie);
  EXPECT_EQ(unwarned.movie->rows(), 4096 + 4);
}

TEST(HazardDriver, AnalysesTheWaveformAsOpenedNotAsEdited) {
  Opened w("2", Friedlander(2048, 5e-6f, PascalsForLevel(150)));
  NoProgress none;
  const float first =
      RunHazardAnalysis(w.session, Options(Listener::Unwarned), none).cochlea.TotalHazardARU;
  EXPECT_EQ(w.session.Grid.Cell(0, 5), "Number of exposures with selected protector, warned");
  EXPECT_EQ(w.session.Grid.Cell(0, 6), "Number of exposures with selected protector, unwarned");
  w.session.Pressure.Fill(0, w.session.LastSample, 0.0f);  // an edit since the opening
  const float second =
      RunHazardAnalysis(w.session, Options(Listener::Unwarned), none).cochlea.TotalHazardARU;
  EXPECT_EQ(first, second);
}

TEST(HazardDriver, ABadLocationOrAMissingParameterFileIsRefusedBeforeAnythingChanges) {
  for (const char* location : {"0", "5", "x", "2.5"}) {
    Opened w(location, Friedlander(1024, 5e-6f, PascalsForLevel(150)));
    w.session.StapesDisplacement[3] = 7.0f;  // what an earlier run left
    const HeaderGrid before = w.session.Grid;
    NoProgress none;
    try {
      RunHazardAnalysis(w.session, Options(Listener::Warned), none);
      FAIL() << "location " << location << " was analysed";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), kBadLocationMessage);
    }
    EXPECT_EQ(w.session.Grid, before);
    EXPECT_FALSE(w.session.MovieAvailable);
    EXPECT_EQ(w.session.StapesDisplacement[3], 7.0f);
    EXPECT_FALSE(std::filesystem::exists(w.dir / "SHOT.HAZ"));
  }
  // Location 4 runs as 1; a missing parameter file stops the run.
  Opened w("4", Friedlander(1024, 5e-6f, PascalsForLevel(150)));
  const HeaderGrid before = w.session.Grid;
  HazardRunOptions o = Options(Listener::Warned);
  o.model_file = w.dir / "missing.txt";
  NoProgress none;
  EXPECT_THROW(RunHazardAnalysis(w.session, o, none), IoError);
  EXPECT_EQ(w.session.Grid, before);
  EXPECT_FALSE(w.session.MovieAvailable);
  EXPECT_EQ(VariantForLocation(4), EarVariant::FreeField);
}

TEST(HazardDriver, ThePlanDecidesWithoutTouchingTheSessionAndTheRunKeepsToIt) {
  Opened w("2", Friedlander(2048, 5e-6f, PascalsForLevel(150)));
  w.session.Pressure.Fill(0, 99, 0.0f);  // an edit since the opening
  const Session before = w.session;
  const HazardPlan plan = PlanHazardRun(w.session, Options(Listener::Unwarned));
  EXPECT_EQ(plan.variant, EarVariant::CanalEntrance);
  EXPECT_EQ(plan.ModelStateCount, 23);
  EXPECT_EQ(plan.ReflexOffset, plan.model.params.UnwarnedReflexDelay());
  EXPECT_EQ(plan.place_table, w.dir / "SHOT.HAZ");
  EXPECT_EQ(w.session.Pressure[50], before.Pressure[50]);
  EXPECT_EQ(w.session.Grid, before.Grid);
  EXPECT_FALSE(std::filesystem::exists(plan.place_table));

  // The run analyses what the plan was made for, or nothing.
  Session shortened = w.session;
  shortened.LastSample = 1023;
  NoProgress none;
  EXPECT_THROW(RunHazardPlan(plan, shortened, none), Error);
  const HazardRunResult r = RunHazardPlan(plan, w.session, none);
  EXPECT_EQ(r.timing.ReflexOnsetSample, plan.timing.ReflexOnsetSample);
  EXPECT_EQ(w.session.Pressure[50], w.session.LoadedPressure[50]);
}

// A waveform lengthened by an edit (here the sample count typed into the
// grid) is analysed with zeros after the opened samples, never with what an
// earlier, longer file left behind.
TEST(HazardDriver, SamplesAddedByAnEditAreZerosWhateverWasOpenedBefore) {
  TempDir dir;
  const auto open_and_lengthen = [&](Session& session) {
    NoProgress none;
    OpenWaveform(session, WriteKrv(dir, "QUIET.KRV", "1", Friedlander(1024, 5e-6f, 20.0)), none);
    session.Grid.Cell(1, 4) = "2048";
    PendingGridEdits pending;
    pending.Mark(1, 4);
    ProcessCell(session, pending);
    EXPECT_EQ(session.LastSample, 2047);
    return RunHazardAnalysis(session, Options(Listener::Warned), none).cochlea.TotalHazardARU;
  };
  Session fresh{1 << 21};
  Session reused{1 << 21};
  NoProgress none;
  OpenWaveform(reused, WriteKrv(dir, "LOUD.KRV", "1", Friedlander(2048, 5e-6f, 20000.0, 0.007)),
               none);
  EXPECT_EQ(open_and_lengthen(reused), open_and_lengthen(fresh));
}

TEST(HazardDriver, AStopRequestEndsTheRunAtItsNextCheckpointAndWritesNothing) {
  // In the middle ear (the first 95 % of the progress) and after the first
  // cochlear place, with the places one after another and side by side.
  ThreadPool pool(3);
  for (const long long permille : {100LL, 951LL}) {
    for (ThreadPool* places : {static_cast<ThreadPool*>(nullptr), &pool}) {
      SCOPED_TRACE(permille);
      Opened w("1", Friedlander(4096, 5e-6f, PascalsForLevel(160)));
      testing::StopAtProgress stop(permille);
      HazardRunOptions options = Options(Listener::Warned);
      options.pool = places;
      EXPECT_THROW(RunHazardAnalysis(w.session, options, stop), Cancelled);
      EXPECT_TRUE(stop.StopRequested());
      EXPECT_EQ(stop.late_reports(), 0);
      EXPECT_FALSE(std::filesystem::exists(w.dir / "SHOT.HAZ"));
      EXPECT_TRUE(w.session.Grid.Cell(1, 5).empty());
      EXPECT_FALSE(w.session.MovieAvailable);
    }
  }
}

TEST(HazardDriver, QuietAndTinyWaveformsGiveAnUnderstandableZero) {
  // Silence (the reader's dither only) and a waveform of 8 samples.
  for (const std::size_t count : {std::size_t{2048}, std::size_t{8}}) {
    Opened w("3", std::vector<float>(count, 0.0f));
    NoProgress none;
    const HazardRunResult r = RunHazardAnalysis(w.session, Options(Listener::Warned), none);
    EXPECT_EQ(r.cochlea.TotalHazardARU, 0.0f);
    EXPECT_EQ(w.session.Grid.Cell(1, 5), "unlimited");
    EXPECT_EQ(w.session.Grid.Cell(2, 5), "0.0000 A.R.U.");
    EXPECT_EQ(r.cochlea.WorstSection, 1);
  }
}

TEST(ManFig, NamesTheParameterFileInItsFolder) {
  TempDir dir;
  dir.Write("EARTEST.TXT", ReadWholeFile(testing::TestModelPath()));
  dir.Write("Man.Fig", "eartest.txt  \r\nsecond line\r\n");
  EXPECT_EQ(ModelFileFromManFig(dir.path()), dir / "EARTEST.TXT");
  // At most 12 characters of the first line name the file.
  dir.Write("Man.Fig", "EARTEST.TXTXYZ\r\n");
  EXPECT_EQ(ModelFileFromManFig(dir.path()).filename(), "EARTEST.TXTX");
  dir.Write("Man.Fig", "\r\n");
  EXPECT_THROW(ModelFileFromManFig(dir.path()), FormatError);
}

}  // namespace
}  // namespace korva
