// End-to-end runs of "korva-cli import": foreign recordings to KRV files, the
// questions answered from flags, and refusals that write nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/support/recordings.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::Quoted;
using testing::RunShell;
using testing::TempDir;
namespace fs = std::filesystem;

// `out` receives the output, replacing what it held; `timeout` turns a
// question that waits for an answer into a failure.
int RunImport(const std::string& arguments, std::string* out) {
  out->clear();
  return RunShell("timeout 60 " + std::string(KORVA_CLI_PATH) + " import " + arguments + " 2>&1",
                  out);
}

struct KrvContent {
  std::vector<std::string> header;  // lines with a TAB
  std::vector<double> samples;
};

KrvContent ReadKrv(const fs::path& path) {
  const std::string text = ReadWholeFile(path);
  KrvContent content;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
    if (end == std::string::npos) break;
    const std::string line = text.substr(start, end - start);
    if (line.find('\t') != std::string::npos) {
      content.header.push_back(line);
    } else {
      content.samples.push_back(ParseLeadingNumber(line));
    }
    start = end + 2;
  }
  return content;
}

TEST(CliImport, WavBecomesAKrvFileWithItsRateAndSamples) {
  TempDir dir;
  const fs::path wav = dir / "shot.wav";
  ASSERT_EQ(RunShell("sox -D -R -n -r 48000 -c 1 -b 16 " + Quoted(wav) +
                     " synth 1000s sine 1000 vol 0.5 2>&1"),
            0);
  std::string out;
  ASSERT_EQ(RunImport(Quoted(wav) + " --out " + Quoted(dir / "shot.krv") + " --mic 2", &out), 0)
      << out;
  const KrvContent krv = ReadKrv(dir / "shot.KRV");
  ASSERT_GE(krv.header.size(), 5u);
  EXPECT_EQ(krv.header[2], "Sampling rate \t48000 \tPCM Data, PCM, 16 bits per sample, Mono ");
  EXPECT_EQ(krv.header[3].substr(0, 30), "Microphone relative to ear \t2 ");
  EXPECT_EQ(krv.header[4].substr(0, 24), "Number of Samples \t1000 ");
  // Saved as the window saves: padded with zeros to a power of two.
  ASSERT_EQ(krv.samples.size(), 1024u);
  EXPECT_EQ(krv.samples[0], 0.0);
  EXPECT_NEAR(krv.samples[12], 16383.5, 1.0);  // the crest of the first cycle
  EXPECT_EQ(krv.samples[1023], 0.0);
  EXPECT_NE(out.find("1000 samples at 48000 samples/s"), std::string::npos) << out;
}

TEST(CliImport, SpreadsheetQuestionIsAnsweredByFlagsOrNamesThem) {
  TempDir dir;
  const fs::path text = dir.Write("daq.txt", "t\tp1\tp2\r\n0\t1.5\t9\r\n1\t-2.5\t9\r\n2\t3\t9\r\n");
  const std::string target = " --out " + Quoted(dir / "daq.krv");
  std::string out;
  EXPECT_EQ(RunImport(Quoted(text) + target, &out), 1);
  EXPECT_NE(out.find("--column"), std::string::npos) << out;
  EXPECT_NE(out.find("--wrapped"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "daq.KRV"));

  EXPECT_EQ(RunImport(Quoted(text) + target + " --column 5", &out), 1);
  EXPECT_NE(out.find("Spreadsheet column number from 1 to 3"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "daq.KRV"));

  ASSERT_EQ(RunImport(Quoted(text) + target + " --column 2", &out), 0) << out;
  EXPECT_EQ(ReadKrv(dir / "daq.KRV").samples, (std::vector<double>{1.5, -2.5, 3, 0}));

  ASSERT_EQ(RunImport(Quoted(text) + target + " --wrapped", &out), 0) << out;
  EXPECT_EQ(ReadKrv(dir / "daq.KRV").samples.size(), 16u);  // 9 numbers padded to 16

  EXPECT_EQ(RunImport(Quoted(text) + target + " --column 2 --wrapped", &out), 2) << out;
}

TEST(CliImport, BinaryIntegersNeedTheByteOrder) {
  TempDir dir;
  const fs::path bin = dir.Write("daq.100", std::string("\x00\x80\xff\x7f\x01\x80\x34\x12", 8));
  const std::string target = " --out " + Quoted(dir / "daq.krv");
  std::string out;
  EXPECT_EQ(RunImport(Quoted(bin) + target, &out), 1);
  EXPECT_NE(out.find("--byte-order"), std::string::npos) << out;
  EXPECT_EQ(RunImport(Quoted(bin) + target + " --byte-order sideways", &out), 2) << out;
  ASSERT_EQ(RunImport(Quoted(bin) + target + " --byte-order big", &out), 0) << out;
  const KrvContent krv = ReadKrv(dir / "daq.KRV");
  EXPECT_EQ(krv.samples, (std::vector<double>{128, -129, 384, 13330}));
  EXPECT_NE(krv.header[2].find("\t100000 \t"), std::string::npos) << krv.header[2];
}

TEST(CliImport, FilesOverTheBufferLimitNeedTheirChannels) {
  // 40 multiplexed channels; channel 7 counts the lines, the others are constant.
  std::string line;
  for (int c = 0; c < 40; ++c) line += (c == 7 ? std::string("@") : FormatInteger(c)) + ",";
  line.back() = '\n';
  std::string text;
  const int lines = 620000;
  text.reserve(static_cast<std::size_t>(lines) * (line.size() + 4));
  for (int i = 0; i < lines; ++i) {
    const std::size_t at = line.find('@');
    text.append(line, 0, at).append(FormatInteger(i % 1000)).append(line, at + 1);
  }
  ASSERT_GT(text.size(), 67108864u);
  TempDir dir;
  const fs::path big = dir.Write("daq.txt", text);
  text.clear();
  const std::string target = " --out " + Quoted(dir / "daq.krv");
  std::string out;
  EXPECT_EQ(RunImport(Quoted(big) + target, &out), 1);
  EXPECT_NE(out.find("exceeds input buffer limit of 67108864"), std::string::npos) << out;
  EXPECT_NE(out.find("--channels"), std::string::npos) << out;
  ASSERT_EQ(RunImport(Quoted(big) + target + " --channels 40 --channel 7", &out), 0) << out;
  const KrvContent krv = ReadKrv(dir / "daq.KRV");
  EXPECT_EQ(krv.header[4].substr(0, 26), "Number of Samples \t620000 ");
  ASSERT_EQ(krv.samples.size(), 1u << 20);
  EXPECT_EQ(krv.samples[999], 999.0);
  EXPECT_EQ(krv.samples[1000], 0.0);
  EXPECT_EQ(krv.samples[619999], 999.0);
}

TEST(CliImport, RefusedHeaderValuesAndUndecodableFilesWriteNothing) {
  TempDir dir;
  const fs::path text = dir.Write("p.txt", "1 2 3 4");
  const fs::path target = dir / "P.KRV";
  const std::string old_content = "an earlier file the refusal must not touch";
  dir.Write("P.KRV", old_content);
  for (const char* edit : {"--rate 0.5", "--rate 12k", "--mic 4"}) {
    SCOPED_TRACE(edit);
    std::string out;
    EXPECT_EQ(RunImport(Quoted(text) + " --out " + Quoted(target) + " " + edit, &out), 1);
    EXPECT_NE(out.find("refused"), std::string::npos) << out;
    EXPECT_EQ(ReadWholeFile(target), old_content);
  }

  const fs::path alaw = dir / "a.wav";
  ASSERT_EQ(RunShell("sox -n -r 8000 -c 1 -e a-law " + Quoted(alaw) + " synth 0.01 sine 440"), 0);
  std::string out;
  EXPECT_EQ(RunImport(Quoted(alaw) + " --out " + Quoted(dir / "a.krv"), &out), 1);
  EXPECT_NE(out.find("8-bit ITU-G.711 A-law"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "a.KRV"));

  EXPECT_EQ(RunImport(Quoted(text), &out), 2) << out;  // no --out
}

// Recordings through the recording reader: the formats, channels, parts and
// calibrations the importer did not offer.

TEST(CliImport, AChannelOfAFlacRecordingCalibratedWithACalibratorToneInPascals) {
  TempDir dir;
  // 114 dB (10.024 Pa RMS) at half of full scale in 16 bits.
  testing::WriteTone(dir / "cal.wav", 1000.0, 0.5, "--rate 48000 --seconds 2");
  const fs::path rec = testing::RecordingFixtures() / "pcm24x8.flac";
  std::string out;
  ASSERT_EQ(RunImport(Quoted(rec) + " --channel 1 --calibrator " + Quoted(dir / "cal.wav") +
                          " --calibrator-level 114 --out " + Quoted(dir / "shot.KRV"),
                      &out),
            0)
      << out;
  EXPECT_NE(out.find("calibrated by calibrator cal.wav (channel 0): 114.0 dB at 1000.0 Hz"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("--channel K picks"), std::string::npos) << out;  // a channel was named
  const KrvContent krv = ReadKrv(dir / "shot.KRV");
  EXPECT_EQ(krv.header[2].find("Sampling rate \t192000 \tFLAC, 24-bit integer, 8 channels; "
                               "channel 1; calibrated by calibrator cal.wav"),
            0u)
      << krv.header[2];
  ASSERT_EQ(krv.samples.size(), 1024u);
  const double pa_per_unit = 10.0237 / (0.5 / std::sqrt(2.0)) / 8388608.0;
  for (const int frame : {0, 1, 999}) {
    const double expected = testing::PatternInteger(frame, 1, 24) * pa_per_unit;
    EXPECT_NEAR(krv.samples[frame], expected, 2e-4 * std::fabs(expected)) << frame;
  }
}

TEST(CliImport, ALongWavIsImportedAPartAtATime) {
  TempDir dir;
  const fs::path wav = dir / "long.wav";  // 2 minutes at 200 kHz in 24 bits: 72 MB
  ASSERT_EQ(RunShell("sox -D -R -n -r 200000 -c 1 -b 24 " + Quoted(wav) +
                     " synth 120 sine 1000 vol 0.5 2>&1"),
            0);
  const std::string target = " --out " + Quoted(dir / "part.krv");
  std::string out;
  EXPECT_EQ(RunImport(Quoted(wav) + target, &out), 1);
  EXPECT_NE(out.find("long.wav: the part to import holds 24000000 samples (120.000 s), more than "
                     "the 1048576 a waveform file holds: import a part of at most 5.243 s"),
            std::string::npos)
      << out;
  EXPECT_FALSE(fs::exists(dir / "part.KRV"));
  ASSERT_EQ(RunImport(Quoted(wav) + target + " --from 60 --to 60.005", &out), 0) << out;
  const KrvContent krv = ReadKrv(dir / "part.KRV");
  EXPECT_EQ(krv.header[4].substr(0, 24), "Number of Samples \t1000 ");
  EXPECT_NE(krv.header[2].find("channel 0, 60.000 s to 60.005 s; uncalibrated"), std::string::npos)
      << krv.header[2];
  // The crest (60 s is a whole number of cycles), to the five digits of a KRV file.
  EXPECT_NEAR(krv.samples[50], 4194303.5, 500.0);
}

TEST(CliImport, MultichannelFilesNameTheChannelOption) {
  const fs::path fixtures = testing::RecordingFixtures();
  TempDir dir;
  std::string out;
  // Two channels: the importer's rule, left then right.
  ASSERT_EQ(RunImport(Quoted(fixtures / "pcm32.wav") + " --out " + Quoted(dir / "a.krv"), &out), 0);
  EXPECT_NE(out.find("pcm32.wav: both channels imported, one after the other; --channel K picks "
                     "one of its 2 channels"),
            std::string::npos)
      << out;
  EXPECT_EQ(ReadKrv(dir / "a.KRV").samples.size(), 2048u);
  // Four: refused as before, with the way out.
  EXPECT_EQ(RunImport(Quoted(fixtures / "pcm24x4.wav") + " --out " + Quoted(dir / "b.krv"), &out),
            1);
  EXPECT_NE(out.find("--channel K picks one of its 4 channels"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "b.KRV"));
  // Formats the importer never read start with channel 0.
  ASSERT_EQ(RunImport(Quoted(fixtures / "pcm24.aiff") + " --out " + Quoted(dir / "c.krv"), &out),
            0);
  EXPECT_NE(out.find("pcm24.aiff: channel 0 imported; --channel K picks one of its 2 channels"),
            std::string::npos)
      << out;
  EXPECT_NEAR(ReadKrv(dir / "c.KRV").samples[3], testing::PatternInteger(3, 0, 24), 1000.0);
}

TEST(CliImport, MatlabFilesTextAndSensitivity) {
  TempDir dir;
  std::string out;
  // v7.3: the rate from a variable; 50 mV/Pa with 10 V at full scale.
  ASSERT_EQ(
      RunImport(Quoted(testing::RecordingFixtures() / "v73.mat") +
                    " --channel 1 --rate-variable fs --sensitivity 50 --full-scale 10 --out " +
                    Quoted(dir / "m.krv"),
                &out),
      0)
      << out;
  const KrvContent mat = ReadKrv(dir / "m.KRV");
  EXPECT_NE(mat.header[2].find("\t200000 \tMAT v7.3 variable rec, double, 2 channels; channel 1; "
                               "calibrated by a sensitivity of 50 mV/Pa with 10 V at full scale"),
            std::string::npos)
      << mat.header[2];
  EXPECT_NEAR(mat.samples[7], testing::PatternFloat(7, 1) * 200.0, 1e-3);

  // Text keeps the importer's reading; the part and the scale apply to it.
  const fs::path text = dir.Write("p.txt", "1 2 3 4 5 6 7 8");
  ASSERT_EQ(RunImport(Quoted(text) + " --rate 4 --from 0.5 --to 1.5 --scale 2 --out " +
                          Quoted(dir / "p.krv"),
                      &out),
            0)
      << out;
  const KrvContent part = ReadKrv(dir / "p.KRV");
  EXPECT_EQ(part.samples, (std::vector<double>{6, 8, 10, 12}));
  EXPECT_EQ(part.header[2], "Sampling rate \t4 \tcalibrated by a scale of 2 Pa per unit ");
}

TEST(CliImport, RecordingsThatCannotBeReadAreRefusedNamingFileAndReason) {
  const fs::path fixtures = testing::RecordingFixtures();
  TempDir dir;
  const std::string flac = ReadWholeFile(fixtures / "pcm16.flac");
  dir.Write("cut.flac", flac.substr(0, flac.size() / 2));
  const std::string wav = ReadWholeFile(fixtures / "pcm24x4.wav");
  dir.Write("cut.wav", wav.substr(0, wav.size() / 2));
  const struct {
    fs::path file;
    std::string options;
    std::string reason;
  } cases[] = {
      {dir / "cut.flac", "", "cut.flac: the samples end at frame"},
      {dir / "cut.wav", "--channel 3", "cut.wav: truncated"},
      {fixtures / "pcm16.caf", "--channel 2",
       "pcm16.caf: there is no channel 2: the recording "
       "has 2 channels (0 to 1)"},
      {fixtures / "columns.mat", "--variable x --rate 1000",
       "columns.mat: no variable x; numeric variables: rec (1000x3 int16), fs (1x1 double)"},
      {fixtures / "columns.mat", "", "columns.mat: a MATLAB file does not say its sample rate"},
      {fixtures / "nan.wav", "--channel 1",
       "nan.wav: channel 1, frame 700 (0.087 s) is not a "
       "finite number"},
      {fixtures / "empty.wav", "--channel 0", "empty.wav: holds no samples"},
      {fixtures / "pcm16.flac", "--from 0.5", "pcm16.flac: the start of the part to read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    std::string out;
    EXPECT_EQ(
        RunImport(Quoted(c.file) + " " + c.options + " --out " + Quoted(dir / "out.krv"), &out), 1);
    EXPECT_NE(out.find(c.reason), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "out.KRV"));
  }
  for (const char* usage :
       {"--scale 2 --sensitivity 50", "--calibrator c.wav", "--full-scale 10", "--from 2 --to 1",
        "--calibrator-level 94", "--rate 10 --rate-variable fs", "--channel -1"}) {
    SCOPED_TRACE(usage);
    std::string out;
    EXPECT_EQ(RunImport(Quoted(fixtures / "pcm16.flac") + " " + usage + " --out " +
                            Quoted(dir / "out.krv"),
                        &out),
              2)
        << out;
  }
}

}  // namespace
}  // namespace korva
