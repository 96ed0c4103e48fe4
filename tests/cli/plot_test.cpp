// End-to-end runs of "korva-cli plot": a PNG of the pressure plot, drawn
// without a display.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

using testing::Quoted;
using testing::RunShell;
using testing::TempDir;

int RunPlot(const std::string& arguments, std::string* out) {
  return RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                      std::string(KORVA_CLI_PATH) + " plot " + arguments + " 2>&1",
                  out);
}

// The plot command draws with Qt: a build without the window has none.
// Decided by the build, not by asking korva-cli: a plot command lost from a
// build with the window must fail these tests, not skip them.
bool PlotCommandBuilt() {
#ifdef KORVA_CLI_DRAWS
  return true;
#else
  return false;
#endif
}

std::string PulseFile() {
  return testing::KrvText(
      "PULSE", 200000, 1, 2048,
      [](int i) {
        const double t = (i - 200) * 5e-6;
        return t < 0 ? 0.0 : 3000.0 * (1 - t / 5e-4) * std::exp(-t / 5e-4);
      },
      4);
}

// Width and height from the PNG header (big-endian, after the signature
// and the IHDR length and type).
std::pair<int, int> PngSize(const std::string& bytes) {
  auto be32 = [&bytes](std::size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 24) |
           (static_cast<unsigned char>(bytes[at + 1]) << 16) |
           (static_cast<unsigned char>(bytes[at + 2]) << 8) |
           static_cast<unsigned char>(bytes[at + 3]);
  };
  return {be32(16), be32(20)};
}

TEST(PlotCommand, WritesAPngOfTheRequestedSizeWithoutADisplay) {
  if (!PlotCommandBuilt()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  TempDir dir;
  const auto krv = dir.Write("PULSE.KRV", PulseFile());
  std::string out;
  ASSERT_EQ(
      RunPlot(Quoted(krv) + " -o " + Quoted(dir / "p.png") + " --width 640 --height 240", &out), 0)
      << out;
  const std::string png = ReadWholeFile(dir / "p.png");
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  EXPECT_EQ(PngSize(png), std::make_pair(640, 240));

  const std::filesystem::path model = std::filesystem::path(KORVA_SOURCE_DATA_DIR) / "Human.par";
  ASSERT_EQ(
      RunPlot(Quoted(krv) + " -o " + Quoted(dir / "w.png") + " --unwarned --model " + Quoted(model),
              &out),
      0)
      << out;
  EXPECT_EQ(PngSize(ReadWholeFile(dir / "w.png")), std::make_pair(1024, 384));
}

TEST(PlotCommand, BadUsageAndBadFilesFailWithoutTouchingTheOutput) {
  if (!PlotCommandBuilt()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  TempDir dir;
  const auto krv = dir.Write("PULSE.KRV", PulseFile());
  const auto previous = dir.Write("keep.png", "old picture");
  std::string out;
  EXPECT_EQ(RunPlot(Quoted(krv), &out), 2) << out;
  EXPECT_EQ(RunPlot(Quoted(krv) + " -o x.png --warned --unwarned", &out), 2) << out;
  EXPECT_EQ(RunPlot(Quoted(krv) + " -o x.png --width 3", &out), 2) << out;

  const auto empty = dir.Write("EMPTY.KRV", "");
  EXPECT_EQ(RunPlot(Quoted(empty) + " -o " + Quoted(previous), &out), 1);
  EXPECT_NE(out.find("EMPTY.KRV"), std::string::npos) << out;
  EXPECT_EQ(ReadWholeFile(previous), "old picture");
}

}  // namespace
}  // namespace korva
