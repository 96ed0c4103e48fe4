// End-to-end runs of "korva-cli movie": the hazard animation of a run
// encoded by ffmpeg, counted frame by frame with ffprobe.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/common/files.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

using testing::Quoted;
using testing::RunShell;
using testing::TempDir;

bool HaveFfmpeg() {
  std::string out;
  return RunShell("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null", &out) == 0;
}

int RunMovie(const std::string& arguments, std::string* out, const std::string& env = "") {
  return RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env + " " +
                      std::string(KORVA_CLI_PATH) + " movie " + arguments + " 2>&1",
                  out);
}

std::string Probe(const std::filesystem::path& video, const std::string& what) {
  std::string out;
  RunShell("ffprobe -v error -select_streams v:0 -count_frames " + what +
               " -of default=noprint_wrappers=1 " + Quoted(video) + " 2>&1",
           &out);
  return out;
}

std::string Model() {
  return " --model " + Quoted(std::filesystem::path(KORVA_SOURCE_DATA_DIR) / "Human.par");
}

TEST(MovieCommand, OneVideoFramePerStepAndTheLastFrame) {
  if (!testing::CliDraws()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (scripts/setup installs it)";
  TempDir dir;
  const auto krv = dir.Write("PULSE.KRV", testing::PulseKrv());
  std::string out;
  ASSERT_EQ(RunMovie(Quoted(krv) + " --warned --step 100 --size 320x240 -o " +
                         Quoted(dir / "m.mp4") + Model(),
                     &out),
            0)
      << out;
  // Frames 1, 101, ..., 2001 and 2047.
  EXPECT_EQ(Probe(dir / "m.mp4", "-show_entries stream=codec_name,width,height,nb_read_frames"),
            "codec_name=h264\nwidth=320\nheight=240\nnb_read_frames=22\n");

  ASSERT_EQ(RunMovie(Quoted(krv) + " --unwarned --step 1000 --size 200x150 -o " +
                         Quoted(dir / "m.gif") + Model(),
                     &out),
            0)
      << out;
  EXPECT_EQ(Probe(dir / "m.gif", "-show_entries stream=codec_name,nb_read_frames"),
            "codec_name=gif\nnb_read_frames=4\n");
  // Only the two videos: no partial file, no place table.
  EXPECT_EQ(testing::FileCount(dir.path()), 3u);
}

TEST(MovieCommand, WithoutFfmpegOrWithBadUsageNothingIsWritten) {
  if (!testing::CliDraws()) GTEST_SKIP() << "korva-cli was built without the Qt window";
  TempDir dir;
  const auto krv = dir.Write("PULSE.KRV", testing::PulseKrv());
  std::string out;
  EXPECT_EQ(RunMovie(Quoted(krv) + " -o " + Quoted(dir / "m.mp4"), &out), 2) << out;
  EXPECT_EQ(RunMovie(Quoted(krv) + " --warned --size 10x10 -o " + Quoted(dir / "m.mp4"), &out), 2)
      << out;
  EXPECT_EQ(RunMovie(Quoted(krv) + " --warned --step 0 -o " + Quoted(dir / "m.mp4"), &out), 2)
      << out;
  EXPECT_EQ(RunMovie(Quoted(krv) + " --warned -o " + Quoted(dir / "m.mp4") + Model(), &out,
                     "PATH=/nonexistent"),
            1)
      << out;
  EXPECT_NE(out.find("ffmpeg"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir / "m.mp4"));
}

}  // namespace
}  // namespace korva
