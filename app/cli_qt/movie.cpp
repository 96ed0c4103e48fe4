// korva-cli movie: the window's hazard animation of a run saved as a video,
// drawn without a display and encoded by ffmpeg.
#include <QSize>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli_qt/headless.h"
#include "core/model/hazard.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"
#include "render/movie_export.h"
#include "render/picture_export.h"

namespace korva::cli {
namespace {

int RunMovie(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"-o", "--output", "--step", "--size", "--model"},
                  {"--warned", "--unwarned"});
  if (args.Positional().size() != 1) throw UsageError("movie takes exactly one FILE.KRV");
  std::optional<std::string> output = args.Value("-o");
  if (!output) output = args.Value("--output");
  if (!output || output->empty()) throw UsageError("movie needs -o OUT.mp4 or -o OUT.gif");
  if (args.Has("--warned") == args.Has("--unwarned")) {
    throw UsageError("name the listener: --warned or --unwarned");
  }
  render::MovieExportOptions options;
  if (const std::optional<long long> step = args.Integer("--step")) {
    if (*step < 1 || *step > 100000) throw UsageError("--step must be 1 to 100000 samples");
    options.step = static_cast<int>(*step);
  }
  if (const std::optional<std::string> size = args.Value("--size")) {
    const std::optional<QSize> parsed = render::PictureSizeNamed(*size);
    if (!parsed) throw UsageError("--size must be WxH, each side 16 to 8192 pixels");
    options.size = *parsed;
  }
  const std::string file = args.Positional().front();

  const std::unique_ptr<QGuiApplication> app = EnsureGuiApplication();
  // Said before the hazard run, not after it.
  if (!render::FindFfmpeg()) {
    io.err << "korva-cli: saving a movie needs the ffmpeg program, which was not found on PATH "
              "(Debian: apt-get install ffmpeg)\n";
    return 1;
  }
  const bool ok = ForFile(file, io, [&] {
    Session session(kMinSampleCapacity);
    QuietProgress progress;
    OpenWaveform(session, file, progress);
    HazardRunOptions run_options;
    run_options.listener = args.Has("--warned") ? Listener::Warned : Listener::Unwarned;
    if (const std::optional<std::string> model = args.Value("--model")) {
      run_options.model_file = *model;
    }
    run_options.write_place_table = false;
    run_options.keep_movie = true;
    const HazardPlan plan = PlanHazardRun(session, run_options);
    PrepareHazardSession(plan, session);
    const HazardRunResult run = RunHazardPlan(plan, session, progress);
    const render::MovieInput input = render::MovieInputOf(run, session);
    render::SaveMovie(input, render::PressurePlotOf(session),
                      render::ScanEnvelope(*run.movie, run.cochlea.Places).max_hazard, options,
                      *output, progress);
  });
  if (!ok) return 1;
  io.out << *output << "\n";
  return 0;
}
KORVA_CLI_COMMAND(
    {"movie", "save the hazard animation of a run as an MP4 or GIF video",
     "Usage: korva-cli movie FILE.KRV --warned|--unwarned -o OUT.mp4\n"
     "                  [--step N] [--size WxH] [--model FILE]\n\n"
     "Runs the hazard model as the hazard command does and saves the window's\n"
     "hazard animation: the displacement along the cochlea and the growing hazard\n"
     "per place above, the waveform and the worst place's hazard below, with the\n"
     "time and frame number. Encoded by the ffmpeg program (found on PATH).\n\n"
     "  -o, --output OUT  the video: OUT.gif an animated GIF, else MP4 (H.264);\n"
     "                    written only when complete\n"
     "  --step N          samples per video frame (default 100)\n"
     "  --size WxH        frame size in pixels (default 1280x720)\n"
     "  --model FILE      ear-model parameter file (default: the one Man.Fig names)\n\n"
     "Needs no display: without one, Qt's offscreen platform is used.\n",
     &RunMovie});

}  // namespace
}  // namespace korva::cli
