// End-to-end runs of "korva-cli plot": a PNG of the pressure plot, drawn
// without a display.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

using testing::Quoted;
using testing::RunShell;
using testing::Shell;
using testing::TempDir;

// `environment`: env's options for korva-cli (NAME=VALUE, -C FOLDER).
int RunPlot(const std::string& arguments, std::string* out, const std::string& environment = "") {
  return RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + environment + " " +
                      std::string(KORVA_CLI_PATH) + " plot " + arguments + " 2>&1",
                  out);
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
  if (!testing::CliDraws()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  TempDir dir;
  const auto krv = dir.Write("PULSE.KRV", testing::PulseKrv());
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

  // Outside a desktop session (no XDG_RUNTIME_DIR either) nothing goes to
  // standard error: a script takes anything there for a fault.
  ASSERT_EQ(RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_RUNTIME_DIR " +
                         std::string(KORVA_CLI_PATH) + " plot " + Quoted(krv) + " -o " +
                         Quoted(dir / "q.png") + " 2>" + Quoted(dir / "stderr.txt"),
                     &out),
            0);
  EXPECT_EQ(ReadWholeFile(dir / "stderr.txt"), "");
}

// "Page size: W x H pts" of pdfinfo, or nothing when pdfinfo is missing.
std::optional<std::string> PdfPageSize(const std::filesystem::path& pdf) {
  std::string out;
  if (RunShell("command -v pdfinfo >/dev/null", &out) != 0) return std::nullopt;
  if (RunShell("pdfinfo " + Quoted(pdf) + " 2>&1", &out) != 0) return "pdfinfo failed: " + out;
  const std::size_t at = out.find("Page size:");
  if (at == std::string::npos) return "no page size: " + out;
  const std::size_t end = out.find(" pts", at);
  std::string size = out.substr(at + 10, end - at - 10);
  size.erase(0, size.find_first_not_of(' '));
  return size;
}

TEST(PlotCommand, EveryPictureInEveryFormatIsReadByItsReader) {
  if (!testing::CliDraws()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  TempDir dir;
  const auto krv = dir.Write("PULSE.KRV", testing::PulseKrv());
  const std::filesystem::path model = std::filesystem::path(KORVA_SOURCE_DATA_DIR) / "Human.par";
  std::string out;
  struct Case {
    std::string options;
    std::string caption;  // a text of the picture, found in its SVG
  };
  for (const Case& c : {Case{"", "TIME IN MILLISECONDS"}, Case{"--spectrum", "1/3 OCT LEQ(300MS)"},
                        Case{"--stapes --warned", "STAPES DISPLACEMENT IN MICRONS"},
                        Case{"--cochlea --unwarned", "DISTANCE FROM STAPES IN CM"}}) {
    SCOPED_TRACE(c.options);
    const std::string model_option =
        c.options.find("warned") != std::string::npos ? " --model " + Quoted(model) : "";
    const std::string common =
        Quoted(krv) + " " + c.options + model_option + " --width 640 --height 240 -o ";
    ASSERT_EQ(RunPlot(common + Quoted(dir / "p.svg"), &out), 0) << out;
    const std::string svg = ReadWholeFile(dir / "p.svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find(c.caption), std::string::npos);
    EXPECT_NE(svg.find("viewBox=\"0 0 640 240\""), std::string::npos);
    std::string xml_check;
    EXPECT_EQ(RunShell("python3 -c 'import sys, xml.dom.minidom as m; "
                       "m.parse(sys.argv[1])' " +
                           Quoted(dir / "p.svg") + " 2>&1",
                       &xml_check),
              0)
        << xml_check;

    // The suffix says nothing here: --format decides.
    ASSERT_EQ(RunPlot(common + Quoted(dir / "p.out") + " --format pdf", &out), 0) << out;
    if (const auto size = PdfPageSize(dir / "p.out")) {
      EXPECT_EQ(*size, "640 x 240");
    }

    ASSERT_EQ(RunPlot(common + Quoted(dir / "p.png"), &out), 0) << out;
    EXPECT_EQ(PngSize(ReadWholeFile(dir / "p.png")), std::make_pair(640, 240));
  }
  // The plot command writes its picture and nothing else (no .HAZ, no .TOB).
  EXPECT_EQ(testing::FileCount(dir.path()), 4u);
}

// Every file under `folder` with a hash of its bytes (short to print).
std::map<std::filesystem::path, std::size_t> Contents(const std::filesystem::path& folder) {
  std::map<std::filesystem::path, std::size_t> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    files[entry.path()] =
        entry.is_regular_file() ? std::hash<std::string>{}(ReadWholeFile(entry.path())) : 0;
  }
  return files;
}

// Unlike korva-cli protect, the protector picture only computes: the table
// (neither rewritten nor copied to the user's data folder), the input's
// folder and the current folder stay as they were. The record has no circuit
// values yet, so a rewrite would change the table's bytes.
TEST(PlotCommand, ProtectorPictureTouchesNoFileButItsOwn) {
  if (!testing::CliDraws()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  TempDir input, data, user, pictures;
  input.Write("PULSE.KRV", testing::PulseKrv());
  std::filesystem::copy(KORVA_SOURCE_DATA_DIR, data.path(),
                        std::filesystem::copy_options::recursive);
  const auto input_before = Contents(input.path());
  const auto data_before = Contents(data.path());
  // Run in the input's folder, with a copy of the data folder and an empty
  // user's data folder.
  const std::string environment = "-C " + Quoted(input.path()) +
                                  " KORVA_DATA_DIR=" + Quoted(data.path()) +
                                  " XDG_DATA_HOME=" + Quoted(user.path());
  std::string out;
  for (const char* name : {"p.png", "p.svg", "p.pdf"}) {
    ASSERT_EQ(RunPlot("PULSE.KRV --protector generic-earplug --width 640 --height 240 -o " +
                          Quoted(pictures / name),
                      &out, environment),
              0)
        << out;
  }
  EXPECT_EQ(PngSize(ReadWholeFile(pictures / "p.png")), std::make_pair(640, 480));
  const std::string svg = ReadWholeFile(pictures / "p.svg");
  for (const char* text : {"INSERTION LOSS (dB)", "GENERIC_EARPLUG", "TIME IN MILLISECONDS"}) {
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  }
  if (const auto size = PdfPageSize(pictures / "p.pdf")) {
    EXPECT_EQ(*size, "640 x 480");
  }

  // An unknown protector is named, and nothing is written.
  EXPECT_EQ(RunPlot("PULSE.KRV --protector NO-SUCH-PLUG -o " + Quoted(pictures / "q.png"), &out,
                    environment),
            1);
  EXPECT_NE(out.find("\"NO-SUCH-PLUG\""), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(pictures / "q.png"));

  EXPECT_EQ(Contents(input.path()), input_before);
  EXPECT_EQ(Contents(data.path()), data_before);
  EXPECT_TRUE(Contents(user.path()).empty());
}

TEST(PlotCommand, BadUsageAndBadFilesFailWithoutTouchingTheOutput) {
  if (!testing::CliDraws()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  TempDir dir;
  const auto krv = dir.Write("PULSE.KRV", testing::PulseKrv());
  const auto previous = dir.Write("keep.png", "old picture");
  std::string out;
  EXPECT_EQ(RunPlot(Quoted(krv), &out), 2) << out;
  EXPECT_EQ(RunPlot(Quoted(krv) + " -o x.png --warned --unwarned", &out), 2) << out;
  EXPECT_EQ(RunPlot(Quoted(krv) + " -o x.png --width 3", &out), 2) << out;
  EXPECT_EQ(RunPlot(Quoted(krv) + " -o x.png --format gif", &out), 2) << out;
  EXPECT_EQ(RunPlot(Quoted(krv) + " -o x.png --cochlea", &out), 2) << out;  // no listener
  EXPECT_EQ(RunPlot(Quoted(krv) + " -o x.png --spectrum --stapes --warned", &out), 2) << out;

  const auto empty = dir.Write("EMPTY.KRV", "");
  EXPECT_EQ(RunPlot(Quoted(empty) + " -o " + Quoted(previous), &out), 1);
  EXPECT_NE(out.find("EMPTY.KRV"), std::string::npos) << out;
  EXPECT_EQ(ReadWholeFile(previous), "old picture");
}

// The drawing commands come from a module loaded when one is run: without it,
// the others still work and the drawing ones say what is missing.
TEST(PlotCommand, AProgramWithoutItsDrawingModuleSaysSoAndStillAnalyses) {
  if (!testing::CliDraws()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  TempDir dir;
  const auto krv = dir.Write("PULSE.KRV", testing::PulseKrv());
  const std::filesystem::path lone = dir / "korva-cli";
  std::filesystem::copy_file(KORVA_CLI_PATH, lone);
  const std::string data = "KORVA_DATA_DIR=" + Quoted(KORVA_SOURCE_DATA_DIR) + " ";
  std::string out;
  EXPECT_EQ(
      Shell(data + Quoted(lone.string()) + " plot " + Quoted(krv) + " -o " + Quoted(dir / "x.png"),
            &out),
      2);
  EXPECT_NE(out.find("the drawing commands' module is missing"), std::string::npos) << out;
  EXPECT_EQ(Shell(data + Quoted(lone.string()) + " report " + Quoted(krv) + " --html " +
                      Quoted(dir / "x.html"),
                  &out),
            2);
  EXPECT_NE(out.find("--html and --pdf are not available"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.html"));
  EXPECT_EQ(Shell(data + Quoted(lone.string()) + " hazard --warned " + Quoted(krv), &out), 0)
      << out;
  EXPECT_NE(out.find("A.R.U."), std::string::npos) << out;
}

}  // namespace
}  // namespace korva
