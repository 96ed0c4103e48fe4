#include "core/waveform/krv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr std::int32_t kCapacity = 1 << 21;

// A header in the writer's own line format, rows 0..4.
std::string FiveRowHeader(const std::string& rate = "200000", const std::string& mic = "2",
                          const std::string& eol = "\r\n") {
  return "PARAMETER \tVALUE \tCOMMENT " + eol + "Title for waveform plot \t \tShot 7 " + eol +
         "Sampling rate \t" + rate + " \tsamples/sec " + eol + "Microphone relative to ear \t" +
         mic + " \t1: Free-field " + eol + "Number of Samples \t99 \ttypically 4096 " + eol;
}

std::string Samples(std::int32_t count, const std::string& eol = "\r\n") {
  std::string text;
  for (std::int32_t i = 0; i < count; ++i) {
    text += FormatFixed(std::sin(0.01 * i) * 100.0, 4) + eol;
  }
  return text;
}

std::vector<float> Loaded(const Session& s) {
  const auto span = s.Pressure.Range(0, s.LastSample);
  return {span.begin(), span.end()};
}

// The header lines of a file (those holding a TAB), as written.
std::vector<std::string> HeaderLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t p = 0;
  while (p < text.size()) {
    const std::size_t end = text.find('\n', p);
    const std::string line = text.substr(p, end == std::string::npos ? end : end + 1 - p);
    if (line.find('\t') == std::string::npos) break;
    lines.push_back(line);
    if (end == std::string::npos) break;
    p = end + 1;
  }
  return lines;
}

bool BitIdentical(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Ordinary values are read back through SaveKrv below; these are the edges.
TEST(FloatToCompactStr, WritesFiveRoundedDigitsAndAShortExponent) {
  EXPECT_EQ(FloatToCompactStr(0.0f), "0.0000E0");
  EXPECT_EQ(FloatToCompactStr(-0.0f), "0.0000E0");
  EXPECT_EQ(FloatToCompactStr(1.0e-20f), "1.0000E-20");
  EXPECT_EQ(FloatToCompactStr(3.4028235e38f), "3.4028E38");
  EXPECT_EQ(FloatToCompactStr(1.4e-45f), "1.4013E-45");
  // The digits round as they read, carrying into the exponent.
  EXPECT_EQ(FloatToCompactStr(9.99995f), "1.0000E1");
  EXPECT_EQ(FloatToCompactStr(9.99994f), "9.9999E0");
  EXPECT_EQ(FloatToCompactStr(0.000999995f), "1.0000E-3");
  EXPECT_EQ(FloatToCompactStr(1.00005f), "1.0001E0");
  EXPECT_EQ(FloatToCompactStr(123456.0f), "1.2346E5");
}

TEST(ReadHeaderField, SeparatorRunsCountAsOneAndALeadingTabGivesABlank) {
  const std::string_view buffer = "\tb c\t\td\r\n\r\ne";
  std::size_t p = 0;
  EXPECT_EQ(ReadHeaderField(buffer, p), " ");
  EXPECT_EQ(ReadHeaderField(buffer, p), "b c");
  EXPECT_EQ(ReadHeaderField(buffer, p), "d");
  EXPECT_EQ(ReadHeaderField(buffer, p), "e");
  EXPECT_EQ(p, buffer.size());
  EXPECT_EQ(ReadHeaderField(buffer, p), "");  // at the end: nothing, and no read past it
}

TEST(PowerOfTwoLength, RoundsDownOnlyJustAboveAPowerOfTwo) {
  // 4,100 and 4,200 are read through OpenWaveform below.
  EXPECT_EQ(PowerOfTwoLength(4096), 4096);
  EXPECT_EQ(PowerOfTwoLength(4167), 4096);  // log2 fraction 0.0234
  EXPECT_EQ(PowerOfTwoLength(4168), 8192);  // 0.0250...
  EXPECT_EQ(PowerOfTwoLength(4095), 4096);
  EXPECT_EQ(PowerOfTwoLength(2), 2);
  EXPECT_EQ(PowerOfTwoLength(3), 4);
  EXPECT_THROW(PowerOfTwoLength(0), RangeError);
  EXPECT_THROW(PowerOfTwoLength(2147483647), RangeError);
}

TEST(OpenWaveform, ReadsHeaderSamplesAndSessionScalars) {
  TempDir dir;
  dir.Write("SHOT.KRV", FiveRowHeader() + Samples(4096));
  Session s(kCapacity);
  NoProgress progress;
  s.KeepPlotRange = true;
  s.ImportedWaveform = true;
  OpenWaveform(s, dir / "SHOT.KRV", progress);

  EXPECT_TRUE(s.WaveformLoaded);
  EXPECT_FALSE(s.ImportedWaveform);
  EXPECT_EQ(s.Grid.Cell(1, 1), "");  // the empty middle cell stays empty
  EXPECT_EQ(s.Grid.Cell(2, 1), "Shot 7");
  EXPECT_EQ(s.WaveformTitle, "Shot 7");
  EXPECT_EQ(s.Grid.Cell(1, 4), "4096");
  EXPECT_EQ(s.Grid.Cell(0, 5), "Number of exposures with no protector, warned");
  EXPECT_EQ(s.HeaderLastRow, 4);
  EXPECT_EQ(s.SampleInterval, 1.0f / 200000.0f);
  EXPECT_EQ(s.MicLocation, 2);
  EXPECT_EQ(s.FftLength, 4096);
  EXPECT_EQ(s.SelLast, 4095);
  EXPECT_FLOAT_EQ(s.EndTime, 4095.0f / 200000.0f);
  EXPECT_EQ(s.SavedEndTime, s.EndTime);
  // Extremes are those of the samples before the dither, KeepPlotRange reset by Open.
  EXPECT_NEAR(s.PeakPressure, 100.0f, 1e-3);
  EXPECT_NEAR(s.MinPressure, -100.0f, 1e-3);
  // The dither is tiny: 100 Pa / 2^17 standard deviation.
  EXPECT_NEAR(s.Pressure[1], std::sin(0.01) * 100.0, 0.01);
  EXPECT_NE(s.Pressure[0], 0.0f);
  const auto loaded = s.LoadedPressure.Range(0, s.LastSample);
  EXPECT_TRUE(BitIdentical(Loaded(s), {loaded.begin(), loaded.end()}));
  double energy = 0.0;
  for (const float p : Loaded(s)) energy += static_cast<double>(p) * p;
  EXPECT_NEAR(s.UnweightedEnergy, energy / 200000.0 / 415.0, 1e-4 * s.UnweightedEnergy);
}

TEST(OpenWaveform, LengthRuleDropsOrPadsButShowsTheCountRead) {
  TempDir dir;
  dir.Write("A.KRV", FiveRowHeader() + Samples(4100));
  dir.Write("B.KRV", FiveRowHeader() + Samples(4200));
  Session s(kCapacity);
  NoProgress progress;

  OpenWaveform(s, dir / "A.KRV", progress);
  EXPECT_EQ(s.LastSample, 4095);
  EXPECT_EQ(s.FftLength, 4096);
  EXPECT_EQ(s.Grid.Cell(1, 4), "4100");

  OpenWaveform(s, dir / "B.KRV", progress);
  EXPECT_EQ(s.LastSample, 8191);
  EXPECT_EQ(s.FftLength, 8192);
  EXPECT_EQ(s.Grid.Cell(1, 4), "4200");
  // The padding is noise of the dither's size, not zeros and not stale data.
  double padding_energy = 0.0;
  for (std::int32_t i = 4200; i <= 8191; ++i) padding_energy += s.Pressure[i] * s.Pressure[i];
  const double rms = std::sqrt(padding_energy / 3992.0);
  EXPECT_GT(rms, 0.5 * 100.0 / 131072.0);
  EXPECT_LT(rms, 2.0 * 100.0 / 131072.0);
  EXPECT_EQ(s.Pressure[8192], 0.0f);
}

TEST(OpenWaveform, SecondOpenIsBitIdenticalWithCrLfOrLf) {
  TempDir dir;
  dir.Write("CRLF.KRV", FiveRowHeader() + Samples(5000));
  dir.Write("LF.KRV", FiveRowHeader("200000", "2", "\n") + Samples(5000, "\n"));
  Session s(kCapacity);
  NoProgress progress;
  OpenWaveform(s, dir / "CRLF.KRV", progress);
  const std::vector<float> first = Loaded(s);
  const HeaderGrid grid = s.Grid;
  OpenWaveform(s, dir / "LF.KRV", progress);
  EXPECT_TRUE(BitIdentical(Loaded(s), first));
  EXPECT_EQ(s.Grid, grid);
  OpenWaveform(s, dir / "CRLF.KRV", progress);
  EXPECT_TRUE(BitIdentical(Loaded(s), first));
}

TEST(OpenWaveform, NameRuleFindsTheKrvOfAnyCase) {
  TempDir dir;
  dir.Write("shot.krv", FiveRowHeader() + Samples(4096));
  dir.Write("shot.wav", "RIFF, not a KRV file");
  dir.Write("shot.2.krv", FiveRowHeader("50000") + Samples(2048));
  Session s(kCapacity);
  NoProgress progress;

  OpenWaveform(s, dir / "shot.wav", progress);  // picked through "All Files"
  EXPECT_EQ(s.BaseName, "SHOT");
  EXPECT_EQ(s.DataFileName, "SHOT.KRV");
  EXPECT_EQ(s.FileExt, ".WAV");
  EXPECT_EQ(s.WaveformDir, dir.path().string());
  EXPECT_EQ(WaveformPath(s), dir / "shot.krv");
  EXPECT_EQ(s.LastSample, 4095);
  SaveKrv(s);  // back to the file read, never over the recording picked
  EXPECT_EQ(ReadWholeFile(dir / "shot.wav"), "RIFF, not a KRV file");
  EXPECT_EQ(ReadWholeFile(dir / "shot.krv").rfind("PARAMETER \tVALUE \tCOMMENT \r\n", 0), 0u);

  // A chosen KRV with more dots is read itself, not SHOT.KRV.
  OpenWaveform(s, dir / "shot.2.krv", progress);
  EXPECT_EQ(s.LastSample, 2047);
  EXPECT_EQ(s.SampleRate, 50000.0f);
  EXPECT_EQ(s.BaseName, "SHOT");
}

TEST(OpenWaveform, LegacyThirtyLineHeaderIsRemapped) {
  std::string header;
  for (int row = 0; row < 30; ++row) {
    std::string c0 = "name" + std::to_string(row), c1, c2 = "note" + std::to_string(row);
    if (row == 2) c0 = "Title", c2 = "Old shot";  // value cell of the title row is empty
    if (row == 3) c0 = "Sampling rate", c1 = "100000";
    if (row == 13) c0 = "Microphone", c1 = "3";
    header += c0 + " \t" + c1 + " \t" + c2 + " \r\n";
  }
  TempDir dir;
  dir.Write("OLD.KRV", header + Samples(1024));
  Session s(kCapacity);
  s.Grid.SetRow(25, "kept?", "", "");
  NoProgress progress;
  OpenWaveform(s, dir / "OLD.KRV", progress);
  EXPECT_EQ(s.Grid.Cell(2, 1), "Old shot");
  EXPECT_EQ(s.WaveformTitle, "Old shot");
  EXPECT_EQ(s.Grid.Cell(1, 2), "100000");
  EXPECT_EQ(s.SampleRate, 100000.0f);
  EXPECT_EQ(s.Grid.Cell(0, 3), "Microphone");
  EXPECT_EQ(s.MicLocation, 3);
  EXPECT_EQ(s.Grid.Cell(0, 4), "Number of samples");
  EXPECT_EQ(s.Grid.Cell(1, 4), "1024");
  EXPECT_EQ(s.Grid.Cell(2, 4), "note4");
  EXPECT_EQ(s.HeaderLastRow, 4);
  EXPECT_TRUE(s.Grid.RowEmpty(25));
  EXPECT_TRUE(s.Grid.RowEmpty(13));
}

TEST(SaveKrv, SaveAsThenSaveThenOpenKeepsEveryCellAndTheSamples) {
  TempDir dir;
  dir.Write("SHOT.KRV", FiveRowHeader() + Samples(4096));
  Session s(kCapacity);
  NoProgress progress;
  OpenWaveform(s, dir / "SHOT.KRV", progress);
  s.Grid.SetRow(1, "Title for waveform plot", "", "Shot 7 with  two blanks ");
  s.Grid.SetRow(25, "Operator", "A.N.", "typed below the results");
  s.Grid.Cell(2, 3) = "tab\there";
  const std::vector<float> samples = Loaded(s);

  const fs::path written = SaveKrvAs(s, dir / "copy.two.krv");
  EXPECT_EQ(written, dir / "copy.KRV");
  EXPECT_EQ(s.HeaderLastRow, 29);
  EXPECT_FALSE(s.WaveformLoaded);
  SaveKrv(s, written);  // 30 header lines, rate 200000 in row 2: not the legacy layout
  const std::string first_bytes = ReadWholeFile(written);

  OpenWaveform(s, written, progress);
  EXPECT_EQ(s.Grid.Cell(2, 1), "Shot 7 with  two blanks ");
  EXPECT_EQ(s.Grid.Cell(2, 3), "tab here");
  EXPECT_EQ(s.Grid.Cell(0, 25), "Operator");
  EXPECT_EQ(s.SampleRate, 200000.0f);
  EXPECT_EQ(s.MicLocation, 2);
  EXPECT_EQ(s.HeaderLastRow, 29);
  EXPECT_EQ(s.LastSample, 4095);
  // Five digits, then a fresh dither (100 Pa / 2^17 standard deviation): within
  // half a unit of the fifth digit plus five standard deviations.
  for (std::int32_t i = 0; i < 4096; ++i) {
    ASSERT_NEAR(s.Pressure[i], samples[i], std::fabs(samples[i]) * 5e-5 + 5 * 100.0 / 131072) << i;
  }

  // A further Open/Save cycle gives back the same header, byte for byte.
  SaveKrv(s, written);
  EXPECT_EQ(HeaderLines(ReadWholeFile(written)), HeaderLines(first_bytes));
  EXPECT_EQ(HeaderLines(first_bytes).size(), 30u);
}

TEST(SaveKrv, WritesTheLineFormatAndPadsWithZeros) {
  TempDir dir;
  Session s(kCapacity);
  s.Grid.SetRow(0, "PARAMETER", "VALUE", "COMMENT");
  s.Grid.SetRow(2, "Sampling rate", "1000", "");
  s.HeaderLastRow = 2;
  s.Pressure[0] = 123.45f;
  s.Pressure[1] = -0.000012345f;
  s.Pressure[2] = 1.0f;
  s.Pressure[3] = 7.0f;  // beyond LastSample: must not reach the file
  s.LastSample = 2;
  SaveKrv(s, dir / "OUT.KRV");
  EXPECT_EQ(ReadWholeFile(dir / "OUT.KRV"),
            "PARAMETER \tVALUE \tCOMMENT \r\n \t \t \r\nSampling rate \t1000 \t \r\n"
            "1.2345E2\r\n-1.2345E-5\r\n1.0000E0\r\n0.0000E0\r\n");
  EXPECT_EQ(s.LastSample, 3);
  EXPECT_EQ(s.Pressure[3], 0.0f);
}

TEST(SaveKrv, RefusalsWriteNothingAndKeepTheSession) {
  TempDir dir;
  Session s(kCapacity);
  s.Grid.SetRow(0, "PARAMETER", "VALUE", "COMMENT");
  s.LastSample = kMaxSaveAsSamples;  // one more than Save As takes
  EXPECT_THROW(SaveKrvAs(s, dir / "big.KRV"), RangeError);
  EXPECT_FALSE(fs::exists(dir / "big.KRV"));

  const std::string old = "old contents\r\n";
  dir.Write("NAN.KRV", old);
  s.LastSample = 3;
  s.Pressure.Fill(0, 3, 1.0f);
  s.Pressure[2] = std::nanf("");
  s.WaveformLoaded = true;
  EXPECT_THROW(SaveKrv(s, dir / "NAN.KRV"), FormatError);
  EXPECT_EQ(ReadWholeFile(dir / "NAN.KRV"), old);
  EXPECT_EQ(s.LastSample, 3);
  EXPECT_TRUE(s.WaveformLoaded);

  s.Pressure[2] = 0.0f;
  EXPECT_THROW(SaveKrv(s, dir / "no-such-folder" / "X.KRV"), IoError);
  EXPECT_EQ(s.LastSample, 3);
}

// The overlay read replaces Pressure and the header but leaves what the
// analysis of the first waveform depends on.
TEST(OpenNewFileType6, ReadsASecondWaveformWithoutTouchingTheLoadedOne) {
  TempDir dir;
  dir.Write("FIRST.KRV", FiveRowHeader() + Samples(4096));
  std::string second = FiveRowHeader("100000", "1") + "Nu \tabc \tkept? \r\nNw \t7 \t \r\n";
  for (int i = 0; i < 3000; ++i) second += (i == 10 ? "-40" : "30") + std::string("\r\n");
  dir.Write("SECOND.KRV", second);
  dir.Write("BAD.KRV", FiveRowHeader());

  Session s(kCapacity);
  NoProgress progress;
  OpenWaveform(s, dir / "FIRST.KRV", progress);
  s.Grid.SetRow(25, "note", "", "");
  s.KeepPlotRange = true;
  const auto loaded = s.LoadedPressure.Range(0, 4095);
  const std::vector<float> first(loaded.begin(), loaded.end());
  const float energy = s.UnweightedEnergy;

  Lcg generator(0);
  ChooseWaveformFile(s, dir / "BAD.KRV");
  EXPECT_THROW(OpenNewFileType6(s, generator, progress), FormatError);
  EXPECT_EQ(generator.seed(), 0u);
  EXPECT_EQ(s.Grid.Cell(0, 25), "note");

  ChooseWaveformFile(s, dir / "SECOND.KRV");
  OpenNewFileType6(s, generator, progress);
  EXPECT_EQ(s.LastSample, 4095);  // 3000 samples padded up
  EXPECT_EQ(s.SampleRate, 100000.0f);
  EXPECT_EQ(s.MicLocation, 1);
  EXPECT_EQ(s.PeakPressure, 30.0f);  // set although KeepPlotRange is
  EXPECT_EQ(s.MinPressure, -40.0f);
  EXPECT_NEAR(s.Pressure[0], 30.0f, 30.0 / 262144.0 + 1e-6);
  EXPECT_NE(s.Pressure[0], 30.0f);
  EXPECT_EQ(s.Pressure[3000], 0.0f);  // zero padding
  EXPECT_EQ(s.Pressure[4095], 0.0f);
  EXPECT_EQ(s.Grid.Cell(1, 4), "3000");
  EXPECT_EQ(s.Grid.Cell(0, 5), "Nu");
  EXPECT_EQ(s.Grid.Cell(1, 5), "abc");
  EXPECT_EQ(s.Grid.Cell(2, 5), "allowed number of unwarned exposures");
  EXPECT_EQ(s.Grid.Cell(1, 6), "7");
  EXPECT_EQ(s.Grid.Cell(0, 15), "Tb");
  EXPECT_EQ(s.Grid.Cell(2, 15), "B-duration milliseconds");
  EXPECT_TRUE(s.Grid.RowEmpty(25));
  EXPECT_EQ(s.FftLength, 4096);
  EXPECT_EQ(s.UnweightedEnergy, energy);
  EXPECT_TRUE(BitIdentical({loaded.begin(), loaded.end()}, first));

  // The generator runs on: a second read gets other deviates.
  const float dithered = s.Pressure[0];
  OpenNewFileType6(s, generator, progress);
  EXPECT_NE(s.Pressure[0], dithered);
}

// Each bad file is refused with a message naming it, and the session keeps
// the waveform, grid, names and flags of the previous good read.
TEST(OpenWaveform, BadFilesAreRefusedAndLeaveTheSessionAsItWas) {
  TempDir dir;
  dir.Write("GOOD.KRV", FiveRowHeader() + Samples(4096));
  dir.Write("EMPTY.KRV", "");
  dir.Write("NOSAMPLE.KRV", FiveRowHeader());
  dir.Write("ONE.KRV", FiveRowHeader() + "1.0\r\n");
  dir.Write("NOHEAD.KRV", Samples(100));
  dir.Write("RATE0.KRV", FiveRowHeader("0") + Samples(100));
  dir.Write("RATEABC.KRV", FiveRowHeader("abc") + Samples(100));
  dir.Write("HUGEVAL.KRV", FiveRowHeader() + "1.0\r\n1E50\r\n2.0\r\n");
  std::string many_rows;
  for (int i = 0; i < 31; ++i) many_rows += "a \tb \tc \r\n";
  dir.Write("ROWS31.KRV", many_rows + Samples(100));
  constexpr std::int32_t kSmallCapacity = (1 << 20) + 50000;
  const auto zeros = [](std::int32_t count) {
    std::string t;
    for (std::int32_t i = 0; i < count; ++i) t += "0\n";
    return t;
  };
  dir.Write("TOOMANY.KRV", FiveRowHeader() + zeros(kSmallCapacity + 1));
  // Rounds up beyond the capacity although it fits.
  dir.Write("ROUNDUP.KRV", FiveRowHeader() + zeros((1 << 20) + 40000));

  // Sparse: past the byte limit without writing 64 MiB.
  fs::resize_file(dir.Write("BIG.KRV", FiveRowHeader() + Samples(100)), kMaxKrvBytes + 1);
  fs::create_directory(dir / "FOLDER.KRV");

  NoProgress progress;
  Session s(kSmallCapacity);
  OpenWaveform(s, dir / "GOOD.KRV", progress);
  s.Grid.SetRow(25, "note", "kept", "");
  const Session before = s;
  const std::vector<float> samples = Loaded(s);

  const std::vector<std::string> bad = {"EMPTY.KRV",   "NOSAMPLE.KRV", "ONE.KRV",     "NOHEAD.KRV",
                                        "RATE0.KRV",   "RATEABC.KRV",  "HUGEVAL.KRV", "ROWS31.KRV",
                                        "TOOMANY.KRV", "ROUNDUP.KRV",  "BIG.KRV",     "FOLDER.KRV",
                                        "MISSING.KRV"};
  for (const std::string& name : bad) {
    try {
      OpenWaveform(s, dir / name, progress);
      ADD_FAILURE() << name << " was accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
    EXPECT_EQ(s.Grid, before.Grid) << name;
    EXPECT_EQ(s.LastSample, before.LastSample) << name;
    EXPECT_EQ(s.DataFileName, "GOOD.KRV") << name;
    EXPECT_EQ(s.SampleRate, before.SampleRate) << name;
    EXPECT_EQ(s.PeakPressure, before.PeakPressure) << name;
    EXPECT_TRUE(BitIdentical(Loaded(s), samples)) << name;
    EXPECT_EQ(s.LoadedPressure[5], before.LoadedPressure[5]) << name;
  }
}

}  // namespace
}  // namespace korva
