// End-to-end runs of "korva-cli import": foreign recordings to KRV files, the
// questions answered from flags, and refusals that write nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
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

}  // namespace
}  // namespace korva
