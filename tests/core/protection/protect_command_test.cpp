#include "core/protection/protect_command.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/waveform/krv.h"
#include "tests/support/stopping_progress.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader = "h1\r\nh2\r\nh3\r\nh4\r\n";
// An unfitted plug (M1 = 0: the earplug seed file stands in).
constexpr const char* kSeededPlug =
    "earplug-x\t0.25\t1\t4\tkHz\tDEF\tA\tP\r\nAtt\t-30\t-32\t-40\r\nSpread\t4\t4\t5\r\n\t0\r\n";
// A fitted muff that must come through unchanged.
constexpr const char* kMuff =
    "MUFF\t0.5\t2\tkHz\tDEF\tA\tM\r\nAtt\t-30\t-35\r\nSpread\t3\t3\r\n"
    "\t2e-1\t9.4e+03\t2e+07\t1.5e+04\t2e+05\t1.5e+02\t3\t5e+04\t5e+05\t1e-02\t40\t0\t0\t0\t0\t"
    "Electro-acoustic Circuit Values\r\n";
// Seed values in the reverse order of stiffness (K4 > K1): the command swaps them.
constexpr const char* kPlugSeed =
    "1e-7\r\n5e2\r\n1e-9\r\n2e4\r\n50\r\n5e5\r\n2\r\n3.3e-7\r\n1e5\r\n5\r\n3.3e-"
    "9\r\n1\r\n1\r\n1\r\n";

struct Fixture {
  testing::TempDir dir;
  fs::path table;
  EarModelParameters ear;
  Session session{1 << 21};

  explicit Fixture(const std::string& table_name = "HPD Atten.txt") {
    table = dir.Write(table_name, std::string(kHeader) + kSeededPlug + kMuff);
    dir.Write("Seed_REAT_Values_Earplug.txt", kPlugSeed);
    ear = ReadEarModelFile(fs::path(KORVA_SOURCE_DATA_DIR) / "Human.par");
    // A 140 dB blast wave, 1200 samples at 100 kHz, as a reader leaves it.
    session.LastSample = 1199;
    session.SampleRate = 100000.0f;
    session.SampleInterval = 1e-5f;
    for (int i = 0; i <= session.LastSample; ++i) {
      const double t = (i - 10) * 1e-5;
      session.Pressure[i] =
          i < 10 ? 0.0f : static_cast<float>(200.0 * (1 - t / 1e-3) * std::exp(-t / 1e-3));
    }
    UpdateExtremes(session);
    session.Grid.SetRow(0, "PARAMETER", "VALUE", "COMMENT");
    session.Grid.SetRow(1, "Title", "", "shot one");
    session.Grid.SetRow(2, "Sampling rate", "100000", "");
    session.Grid.SetRow(3, "Microphone relative to ear", "1", "1: Free-field");
    session.Grid.SetRow(4, "Number of Samples", "1200", "");
    session.WaveformTitle = "shot one";
  }

  ProtectOptions Options(int record) const {
    ProtectOptions o;
    o.table = table;
    o.seed_folder = dir.path();
    o.output_folder = dir.path();
    o.chosen_file_name = "SHOT1.KRV";
    o.record_index = record;
    return o;
  }
};

TEST(GetHPDData, SeededRecordIsWrittenBackAndTheSessionStaysFreeField) {
  Fixture f;
  const Session before = f.session;
  const std::string table_before = ReadWholeFile(f.table);
  ProtectorCommandState state;
  NoProgress progress;
  const ProtectResult first = GetHPDData(f.session, state, f.ear, f.Options(0), progress);

  EXPECT_TRUE(first.seeded);
  EXPECT_EQ(first.code.kind, 0);
  // The seed's inner spring was the stiffer one: swapped, then 100 x the wall side.
  EXPECT_FLOAT_EQ(first.circuit.PistonStiffness, 1e9f);
  EXPECT_FLOAT_EQ(first.circuit.SuspensionStiffness, 1e11f);
  EXPECT_FLOAT_EQ(first.circuit.SuspensionResistance, 2e6f);
  EXPECT_EQ(first.circuit.SecondaryTransition, 0.0f);
  EXPECT_TRUE(first.table_error.empty());

  // Only line 4 of the record changed, now in the written form.
  const std::string table_after = ReadWholeFile(f.table);
  const std::string expected =
      std::string(kHeader) +
      std::string(kSeededPlug).substr(0, std::string(kSeededPlug).rfind("\t0\r\n")) +
      FormatCircuitLine(first.circuit) + "\r\n" + kMuff;
  EXPECT_EQ(table_after, expected);

  // The protected file: name, location 3, power-of-two length.
  EXPECT_EQ(first.output.filename(), "SHOT1_EARPLUG_X_90.KRV");
  EXPECT_EQ(first.samples_written, 2048);  // log2 1,200 exceeds 10 by more than 0.025
  Session written{1 << 21};
  OpenWaveform(written, first.output, progress);
  EXPECT_EQ(written.MicLocation, 3);
  EXPECT_EQ(written.Grid.Cell(2, 1), "shot one");
  // Attenuated: the eardrum peak lies well below the free-field peak.
  EXPECT_LT(first.peak_under_protector, 0.1f * first.peak_free_field);
  EXPECT_GT(first.peak_eardrum, 0.0f);

  // The loaded free-field waveform is untouched.
  EXPECT_EQ(f.session.LastSample, before.LastSample);
  EXPECT_EQ(f.session.Grid, before.Grid);
  EXPECT_EQ(f.session.Pressure[500], before.Pressure[500]);

  // The next run reads the written values from the table and rewrites them identically.
  const ProtectResult second = GetHPDData(f.session, state, f.ear, f.Options(0), progress);
  EXPECT_FALSE(second.seeded);
  EXPECT_EQ(second.circuit, first.circuit);
  EXPECT_DOUBLE_EQ(second.plot.rms_error, first.plot.rms_error);
  EXPECT_EQ(ReadWholeFile(f.table), table_after);
  EXPECT_NE(table_before, table_after);
}

TEST(GetHPDData, RefusalsLeaveTheTableAndTheFolderAlone) {
  Fixture f;
  ProtectorCommandState state;
  NoProgress progress;
  // A muff record with a zero leak mass.
  std::string bad = std::string(kHeader) + kSeededPlug + kMuff;
  bad.replace(bad.find("\t3\t5e+04"), 2, "\t0");
  WriteFileAtomically(f.table, bad);
  EXPECT_THROW(GetHPDData(f.session, state, f.ear, f.Options(1), progress), Error);
  // The table was edited since the menu was built: another name at that index.
  ProtectOptions renamed = f.Options(0);
  renamed.expected_name = "EARPLUG-Y";
  EXPECT_THROW(GetHPDData(f.session, state, f.ear, renamed, progress), Error);
  // A one-sample waveform.
  Session one = f.session;
  one.LastSample = 0;
  EXPECT_THROW(GetHPDData(one, state, f.ear, f.Options(0), progress), Error);
  // No seed file for a muff record without values.
  std::string unfitted = std::string(kHeader) + kSeededPlug +
                         std::string(kMuff).substr(0, std::string(kMuff).find("\t2e-1")) +
                         "\t0\r\n";
  WriteFileAtomically(f.table, unfitted);
  EXPECT_THROW(GetHPDData(f.session, state, f.ear, f.Options(1), progress), IoError);

  EXPECT_EQ(ReadWholeFile(f.table), unfitted);
  // The table and the seed file, nothing written.
  EXPECT_EQ(std::distance(fs::directory_iterator(f.dir.path()), fs::directory_iterator{}), 2);
}

TEST(GetHPDData, AStopDuringThePredictionLeavesTheTableAndTheFolderAlone) {
  // In the protector circuit and in the eardrum prediction.
  for (const long long permille : {100LL, 600LL}) {
    SCOPED_TRACE(permille);
    Fixture f;
    const std::string table = ReadWholeFile(f.table);
    ProtectorCommandState state;
    testing::StopAtProgress stop(permille);
    EXPECT_THROW(GetHPDData(f.session, state, f.ear, f.Options(0), stop), Cancelled);
    EXPECT_EQ(stop.late_reports(), 0);
    EXPECT_EQ(ReadWholeFile(f.table), table);
    EXPECT_EQ(std::distance(fs::directory_iterator(f.dir.path()), fs::directory_iterator{}), 2);
  }
}

TEST(GetHPDData, AFailedRewriteLeavesTheTableAsItWasAndIsReported) {
  // A name so long that no temporary file can be made beside it.
  Fixture f(std::string(246, 't') + ".txt");
  const std::string before = ReadWholeFile(f.table);
  ProtectorCommandState state;
  NoProgress progress;
  const ProtectResult r = GetHPDData(f.session, state, f.ear, f.Options(0), progress);
  EXPECT_FALSE(r.table_error.empty());
  EXPECT_EQ(ReadWholeFile(f.table), before);
  EXPECT_TRUE(fs::exists(r.output));  // the prediction still ran
}

TEST(GetHPDData, LengthIsCutToAPowerOfTwoByTheReadersRule) {
  // 4,100 samples lie within 2.5 % (in log2) of 4,096 and are cut; padding
  // (1,200 to 2,048) is checked above.
  Fixture f;
  ProtectorCommandState state;
  NoProgress progress;
  f.session.LastSample = 4099;
  f.session.Pressure[4099] = 0.0f;  // silence after the shot
  const ProtectResult r = GetHPDData(f.session, state, f.ear, f.Options(1), progress);
  EXPECT_EQ(r.samples_written, 4096);
  Session written{1 << 21};
  OpenWaveform(written, r.output, progress);
  EXPECT_EQ(written.LastSample, 4095);
}

TEST(IncidenceGain, NormalIncidenceDoublesThePressure) {
  EXPECT_FLOAT_EQ(IncidenceGainFor(90), 2.0f);
  EXPECT_NEAR(IncidenceGainFor(0), 1.0f, 1e-6f);
  EXPECT_EQ(ProtectedFileName("/data/shot1.old.krv", "EARPLUG_X_90"), "shot1_EARPLUG_X_90.KRV");
}

}  // namespace
}  // namespace korva
