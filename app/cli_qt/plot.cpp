// korva-cli plot: the pressure-time plot the window draws after Open (with
// the reflex curve of a hazard run when a listener is named), drawn without
// a display and saved as a PNG picture.
#include <QByteArray>
#include <QImage>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli_qt/headless.h"
#include "core/common/files.h"
#include "core/common/progress.h"
#include "core/model/hazard.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"
#include "ui/plot_painter.h"
#include "ui/report_pages.h"

namespace korva::cli {
namespace {

constexpr int kDefaultWidth = 1024;
constexpr int kDefaultHeight = 384;
constexpr long long kMinSide = 16;
constexpr long long kMaxSide = 8192;

int Side(const Args& args, const char* option, int fallback) {
  const std::optional<long long> value = args.Integer(option);
  if (!value) return fallback;
  if (*value < kMinSide || *value > kMaxSide) {
    throw UsageError(std::string(option) + " must be between 16 and 8192 pixels");
  }
  return static_cast<int>(*value);
}

int RunPlot(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"-o", "--output", "--width", "--height", "--model"},
                  {"--warned", "--unwarned"});
  if (args.Positional().size() != 1) throw UsageError("plot takes exactly one FILE.KRV");
  std::optional<std::string> output = args.Value("-o");
  if (!output) output = args.Value("--output");
  if (!output || output->empty()) throw UsageError("plot needs -o OUT.png");
  if (args.Has("--warned") && args.Has("--unwarned")) {
    throw UsageError("--warned and --unwarned exclude each other: one reflex curve per picture");
  }
  const int width = Side(args, "--width", kDefaultWidth);
  const int height = Side(args, "--height", kDefaultHeight);
  const std::string file = args.Positional().front();

  const std::unique_ptr<QGuiApplication> app = EnsureGuiApplication();
  QByteArray png;
  const bool ok = ForFile(file, io, [&] {
    Session session(kMinSampleCapacity);
    QuietProgress progress;
    OpenWaveform(session, file, progress);

    // The window's client area is twice the band: the plot is its lower half.
    QImage image(width, 2 * height, QImage::Format_RGB32);
    image.fill(Qt::white);
    ui::PlotState state;
    state.TraceCount = 1;
    ui::PressureTimePlot(image, session, state);

    if (args.Has("--warned") || args.Has("--unwarned")) {
      // The curve of the run the hazard command would make, checks included.
      HazardRunOptions options;
      options.listener = args.Has("--warned") ? Listener::Warned : Listener::Unwarned;
      if (const std::optional<std::string> model = args.Value("--model")) {
        options.model_file = *model;
      }
      options.write_place_table = false;
      const HazardPlan plan = PlanHazardRun(session, options);
      ui::DrawReflexCurve(image, state, session.LastSample, session.SampleInterval, plan.timing);
    }

    const QImage band = image.copy(0, state.layout.PlotTop, width, state.layout.FrameHeight);
    png = ui::PngBytes(band);
  });
  if (!ok) return 1;
  const bool written = ForFile(*output, io, [&] {
    WriteFileAtomically(*output, std::string_view(png.constData(), png.size()));
  });
  if (!written) return 1;
  io.out << *output << "\n";
  return 0;
}
KORVA_CLI_COMMAND({"plot", "draw the pressure-time plot of a KRV file as a PNG picture",
                   "Usage: korva-cli plot FILE.KRV -o OUT.png [--width W] [--height H]\n"
                   "                 [--warned | --unwarned [--model FILE]]\n\n"
                   "Opens FILE.KRV as the window's Open does and draws the pressure-time plot of\n"
                   "the lower half of the window: waveform in kilopascals against milliseconds,\n"
                   "purple zero line, axes, labels and the title from the header.\n\n"
                   "  -o, --output OUT.png  the picture to write (replaced only when complete)\n"
                   "  --width W             picture width in pixels (default 1024)\n"
                   "  --height H            picture height in pixels (default 384); the plot is\n"
                   "                        laid out as in a window of W x 2H\n"
                   "  --warned, --unwarned  add the reflex activation curve of that listener\n"
                   "  --model FILE          ear-model parameter file for the reflex timing\n"
                   "                        (default: the one Man.Fig names)\n\n"
                   "Needs no display: without one, Qt's offscreen platform is used.\n",
                   &RunPlot});

}  // namespace
}  // namespace korva::cli
