// End-to-end runs of "korva-cli overlay" on waveforms written by "korva-cli synth".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "core/common/files.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::Cli;
using testing::CliOk;
using testing::Quoted;
using testing::TempDir;

TEST(CliOverlay, AppendsOneLinePerComparisonUnderOneHeader) {
  TempDir dir;
  const std::string free = Quoted(dir / "FREE.KRV"), ear = Quoted(dir / "EAR.KRV");
  CliOk("synth --peak 150 --samples 8192 " + free);
  CliOk("synth --peak 130 --samples 8192 " + ear);
  fs::create_directories(dir / "Dat" / "Hearing Protectors");
  const fs::path table = dir / "Dat" / "Hearing Protectors" / "TOB.txt";
  const std::string command = "overlay " + free + " " + ear + " --table " + Quoted(table);

  std::string out = CliOk(command);
  EXPECT_NE(out.find("FREE_to_EAR"), std::string::npos) << out;
  // Band 30 (1 kHz): 20 dB down, 8.2 dB of open-ear correction.
  EXPECT_NE(out.find("\n30\t1000.0\t-20.00\t8.2\t-28.2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("created"), std::string::npos);
  EXPECT_NE(CliOk(command).find("appended to"), std::string::npos);
  const std::string text = ReadWholeFile(table);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  EXPECT_EQ(text.rfind("0.050\t", 0), 0u);
  EXPECT_NE(text.find("\tFREE_to_EAR\t3\t1\t0\r\n"), std::string::npos);
}

TEST(CliOverlay, MissingFolderOrFileIsReportedAndNothingIsCreated) {
  TempDir dir;
  const std::string free = Quoted(dir / "FREE.KRV");
  CliOk("synth --samples 4096 " + free);
  std::string out;
  EXPECT_EQ(
      Cli("overlay " + free + " " + free + " --table " + Quoted(dir / "nowhere" / "TOB.txt"), &out),
      1);
  EXPECT_NE(out.find("nowhere"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(Cli("overlay " + free + " " + Quoted(dir / "GONE.KRV") + " --table " +
                    Quoted(dir / "TOB.txt"),
                &out),
            1);
  EXPECT_FALSE(fs::exists(dir / "TOB.txt"));
  EXPECT_EQ(Cli("overlay " + free, &out), 2);
}

}  // namespace
}  // namespace korva
