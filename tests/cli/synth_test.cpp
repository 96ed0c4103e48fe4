// End-to-end runs of "korva-cli synth": the waveforms it writes are read back
// by the program's own reader and analysed by "korva-cli hazard".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/common/progress.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::Cli;
using testing::CliOk;
using testing::Quoted;
using testing::TempDir;

const fs::path kModel = fs::path(KORVA_SOURCE_DATA_DIR) / "Human.par";

Session Open(const fs::path& file) {
  Session session(kMinSampleCapacity);
  NoProgress progress;
  OpenWaveform(session, file, progress);
  return session;
}

double FriedlanderAt(double peak, double t) {
  return t < 0.0 ? 0.0 : peak * (1.0 - t / 0.001) * std::exp(-t / 0.001);
}

TEST(CliSynth, WritesFriedlanderAndReverberantImpulsesThatTheReaderOpens) {
  TempDir dir;
  EXPECT_EQ(CliOk("synth --peak 140 --samples 4096 " + Quoted(dir / "shot.krv")),
            (dir / "shot.KRV").string() + "\n");
  const Session s = Open(dir / "shot.KRV");
  EXPECT_EQ(s.LastSample, 4095);
  EXPECT_EQ(s.SampleRate, 200000.0f);
  EXPECT_EQ(s.MicLocation, 1);
  EXPECT_EQ(s.WaveformTitle,
            "Friedlander impulse, 140 dB peak, A-duration 1 ms, free field (synthetic)");
  // The peak at 5 ms and the Friedlander shape after it, to the file's
  // five digits and the reader's dither.
  const double peak = std::pow(10.0, (140.0 - 94.0) / 20.0);  // 199.5 Pa
  for (const int i : {999, 1000, 1050, 1100, 1200, 1400, 3000}) {
    const double expected = FriedlanderAt(peak, (i - 1000) * 5e-6);
    EXPECT_NEAR(s.Pressure[i], expected, 0.05 + 1e-4 * std::fabs(expected)) << i;
  }
  EXPECT_NEAR(20.0 * std::log10(s.PeakPressure) + 94.0, 140.0, 0.01);

  // A reverberant impulse keeps its peak and decays over its B-duration.
  CliOk("synth --peak 150 --b-duration 50 --samples 32768 " + Quoted(dir / "room.krv"));
  const Session room = Open(dir / "room.KRV");
  EXPECT_NEAR(20.0 * std::log10(room.PeakPressure) + 94.0, 150.0, 0.01);
  // The envelope 50 ms after the impulse lies about 20 dB below the peak.
  float late = 0.0f;
  for (int i = 10000; i < 12000; ++i) late = std::max(late, std::fabs(room.Pressure[i]));
  const double drop = 20.0 * std::log10(room.PeakPressure / late);
  EXPECT_GT(drop, 14.0);
  EXPECT_LT(drop, 30.0);
}

// The eardrum waveform the model predicts from a free-field impulse, analysed
// as an eardrum recording, carries the hazard of the free-field impulse: two
// different middle-ear variants and the prediction agree.
TEST(CliSynth, EardrumPredictionCarriesTheHazardOfTheFreeFieldImpulse) {
  TempDir dir;
  const std::string common = "synth --peak 150 --samples 8192 --model " + Quoted(kModel) + " ";
  CliOk(common + Quoted(dir / "ff.krv"));
  CliOk(common + "--at-eardrum " + Quoted(dir / "ed.krv"));
  EXPECT_EQ(Open(dir / "ED.KRV").MicLocation, 3);

  const std::string out = CliOk("hazard --unwarned --csv --model " + Quoted(kModel) + " " +
                                Quoted(dir / "FF.KRV") + " " + Quoted(dir / "ED.KRV"));
  // file,listener,samples,mic_location,aru,...: the fifth field of each row.
  std::vector<double> aru;
  for (std::size_t row = out.find('\n'); row != std::string::npos && row + 1 < out.size();
       row = out.find('\n', row + 1)) {
    std::size_t field = row + 1;
    for (int k = 0; k < 4; ++k) field = out.find(',', field) + 1;
    aru.push_back(ParseLeadingNumber(out.substr(field)));
  }
  ASSERT_EQ(aru.size(), 2u) << out;
  EXPECT_GT(aru[0], 1.0);
  EXPECT_NEAR(aru[1] / aru[0], 1.0, 0.05) << out;
}

TEST(CliSynth, RefusesBadValuesWithoutWritingAnything) {
  TempDir dir;
  const std::string target = Quoted(dir / "bad.krv");
  for (const std::string options :
       {"--peak 200", "--peak -3", "--samples 1", "--samples 2000000", "--location 4",
        "--a-duration 0", "--rate nan", "--onset 400", "--at-eardrum --location 3"}) {
    std::string out;
    EXPECT_EQ(Cli("synth " + options + " " + target, &out), 2) << options << ": " << out;
    EXPECT_NE(out.find("korva-cli"), std::string::npos) << out;
  }
  std::string out;
  EXPECT_EQ(Cli("synth", &out), 2);
  EXPECT_FALSE(fs::exists(dir / "bad.KRV"));

  // A folder that does not exist: reported against the file, exit 1.
  EXPECT_EQ(Cli("synth " + Quoted(dir / "missing" / "x.krv"), &out), 1);
  EXPECT_NE(out.find("korva-cli: "), std::string::npos) << out;
}

// Anyone can remake the bundled examples: the generator writes the same files.
TEST(CliSynth, RemakesTheBundledExamples) {
  TempDir dir;
  CliOk("synth --examples " + Quoted(dir.path()) + " --model " + Quoted(kModel));
  const fs::path bundled = fs::path(KORVA_SOURCE_DATA_DIR) / "examples";
  for (const char* name : {"FRIED140.KRV", "FRIED150.KRV", "FRIED160.KRV", "FRIED170.KRV",
                           "REVERB.KRV", "ENTRANCE.KRV", "EARDRUM.KRV"}) {
    ASSERT_TRUE(fs::exists(dir / name)) << name;
    const Session made = Open(dir / name);
    const Session shipped = Open(bundled / name);
    EXPECT_EQ(made.Grid, shipped.Grid) << name;
    ASSERT_EQ(made.LastSample, shipped.LastSample) << name;
    // Same samples to the file's five digits (the eardrum one comes out of
    // the model, whose last digit may differ between compilers).
    double worst = 0.0;
    for (std::int32_t i = 0; i <= made.LastSample; ++i) {
      worst = std::max(worst, std::fabs(double{made.Pressure[i]} - shipped.Pressure[i]) /
                                  (1.0 + std::fabs(double{shipped.Pressure[i]})));
    }
    EXPECT_LT(worst, 1e-3) << name;
  }
}

}  // namespace
}  // namespace korva
