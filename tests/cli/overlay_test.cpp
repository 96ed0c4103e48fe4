// End-to-end runs of "korva-cli overlay" on waveforms written by "korva-cli synth".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/common/files.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::Shell;
using testing::TempDir;

const std::string kCli = KORVA_CLI_PATH;

int CountLines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(CliOverlay, AppendsOneLinePerComparisonUnderOneHeader) {
  TempDir dir;
  std::string out;
  const std::string free = (dir / "FREE.KRV").string();
  const std::string ear = (dir / "EAR.KRV").string();
  ASSERT_EQ(Shell(kCli + " synth --peak 150 --samples 8192 '" + free + "'", &out), 0) << out;
  ASSERT_EQ(Shell(kCli + " synth --peak 130 --samples 8192 '" + ear + "'", &out), 0) << out;
  fs::create_directories(dir / "Dat" / "Hearing Protectors");
  const std::string table = (dir / "Dat" / "Hearing Protectors" / "TOB.txt").string();

  ASSERT_EQ(Shell(kCli + " overlay '" + free + "' '" + ear + "' --table '" + table + "'", &out), 0)
      << out;
  EXPECT_NE(out.find("FREE_to_EAR"), std::string::npos) << out;
  // Band 30 (1 kHz): 20 dB down, 8.2 dB of open-ear correction.
  EXPECT_NE(out.find("\n30\t1000.0\t-20.00\t8.2\t-28.2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("created"), std::string::npos);
  ASSERT_EQ(Shell(kCli + " overlay '" + free + "' '" + ear + "' --table '" + table + "'", &out), 0)
      << out;
  EXPECT_NE(out.find("appended to"), std::string::npos);
  const std::string text = ReadWholeFile(table);
  EXPECT_EQ(CountLines(text), 3);
  EXPECT_EQ(text.rfind("0.050\t", 0), 0u);
  EXPECT_NE(text.find("\tFREE_to_EAR\t3\t1\t0\r\n"), std::string::npos);
}

TEST(CliOverlay, MissingFolderOrFileIsReportedAndNothingIsCreated) {
  TempDir dir;
  std::string out;
  const std::string free = (dir / "FREE.KRV").string();
  ASSERT_EQ(Shell(kCli + " synth --samples 4096 '" + free + "'", &out), 0) << out;
  EXPECT_EQ(Shell(kCli + " overlay '" + free + "' '" + free + "' --table '" +
                      (dir / "nowhere" / "TOB.txt").string() + "'",
                  &out),
            1);
  EXPECT_NE(out.find("nowhere"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(Shell(kCli + " overlay '" + free + "' '" + (dir / "GONE.KRV").string() + "' --table '" +
                      (dir / "TOB.txt").string() + "'",
                  &out),
            1);
  EXPECT_FALSE(fs::exists(dir / "TOB.txt"));
  EXPECT_EQ(Shell(kCli + " overlay '" + free + "'", &out), 2);
}

}  // namespace
}  // namespace korva
