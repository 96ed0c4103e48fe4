// korva-cli plot: the pictures the window draws (the pressure-time plot with
// the reflex curve of a hazard run when a listener is named, the spectrum,
// the stapes and the cochlea of a run, the protector command's picture),
// drawn without a display and saved as PNG, SVG or PDF.
#include <QBuffer>
#include <QByteArray>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/protector_choice.h"
#include "app/cli_qt/headless.h"
#include "core/common/files.h"
#include "core/common/progress.h"
#include "core/metrics/leq300.h"
#include "core/model/hazard.h"
#include "core/protection/protect_command.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"
#include "render/picture_export.h"
#include "render/recipes.h"

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

// Which of the window's pictures to draw.
enum class Kind { kPressure, kSpectrum, kStapes, kCochlea, kProtector };

Kind KindOf(const Args& args) {
  std::optional<Kind> kind;
  for (const auto& [option, named] :
       {std::pair{"--spectrum", Kind::kSpectrum}, std::pair{"--stapes", Kind::kStapes},
        std::pair{"--cochlea", Kind::kCochlea}, std::pair{"--protector", Kind::kProtector}}) {
    if (!args.Has(option)) continue;
    if (kind) {
      throw UsageError("--spectrum, --stapes, --cochlea and --protector exclude each other");
    }
    kind = named;
  }
  return kind.value_or(Kind::kPressure);
}

int RunPlot(const std::vector<std::string>& argv, Streams& io) {
  const Args args(
      argv,
      {"-o", "--output", "--width", "--height", "--model", "--format", "--protector", "--table"},
      {"--warned", "--unwarned", "--spectrum", "--stapes", "--cochlea"});
  if (args.Positional().size() != 1) throw UsageError("plot takes exactly one FILE.KRV");
  std::optional<std::string> output = args.Value("-o");
  if (!output) output = args.Value("--output");
  if (!output || output->empty()) throw UsageError("plot needs -o OUT.png");
  if (args.Has("--warned") && args.Has("--unwarned")) {
    throw UsageError("--warned and --unwarned exclude each other: one reflex curve per picture");
  }
  const Kind kind = KindOf(args);
  const bool listener = args.Has("--warned") || args.Has("--unwarned");
  if ((kind == Kind::kStapes || kind == Kind::kCochlea) && !listener) {
    throw UsageError("--stapes and --cochlea show a hazard run: add --warned or --unwarned");
  }
  if ((kind == Kind::kSpectrum || kind == Kind::kProtector) && listener) {
    throw UsageError(
        std::string(kind == Kind::kSpectrum ? "the spectrum" : "the protector picture") +
        " has no reflex curve: --warned and --unwarned do not apply");
  }
  if (args.Value("--table") && kind != Kind::kProtector) {
    throw UsageError("--table names the protector table of --protector");
  }
  std::optional<render::PictureFormat> format;
  if (const std::optional<std::string> named = args.Value("--format")) {
    format = render::PictureFormatNamed(*named);
    if (!format) throw UsageError("--format must be png, svg or pdf");
  } else {
    format = render::PictureFormatOfFile(*output).value_or(render::PictureFormat::kPng);
  }
  const int width = Side(args, "--width", kDefaultWidth);
  const int height = Side(args, "--height", kDefaultHeight);
  const std::string file = args.Positional().front();

  // The protector is found before the waveform is read. Unlike the protect
  // command, the picture only computes: the table is neither rewritten nor
  // copied, and no protected KRV file is written.
  std::optional<ProtectorTableChoice> table;
  std::optional<ChosenProtector> protector;
  if (kind == Kind::kProtector) {
    table = ChosenProtectorTable(args, io);
    if (!table) return 1;
    protector = FindChosenProtector(args, table->table, io);
    if (!protector) return 1;
  }

  const std::unique_ptr<QGuiApplication> app = EnsureGuiApplication();
  QByteArray bytes;
  const bool ok = ForFile(file, io, [&] {
    Session session(kMinSampleCapacity);
    QuietProgress progress;
    OpenWaveform(session, file, progress);

    // Each picture is laid out as in a window of W x 2H: the pressure plot
    // is its lower half, the other pictures its upper half.
    render::Picture picture;
    render::PictureExport what;
    what.picture = &picture;
    what.client = QSize(width, 2 * height);
    // The protector command fills both: its picture is W x 2H.
    what.shown = kind == Kind::kProtector
                     ? QRect(0, 0, width, 2 * height)
                     : QRect(0, kind == Kind::kPressure ? height : 0, width, height);
    what.title = session.WaveformTitle;
    what.state.TraceCount = 1;

    std::optional<HazardPlan> plan;
    if (listener) {
      // The run the hazard command would make, checks included.
      HazardRunOptions options;
      options.listener = args.Has("--warned") ? Listener::Warned : Listener::Unwarned;
      if (const std::optional<std::string> model = args.Value("--model")) {
        options.model_file = *model;
      }
      options.write_place_table = false;
      options.keep_movie = kind != Kind::kPressure;
      plan = PlanHazardRun(session, options);
    }
    if (kind == Kind::kPressure || kind == Kind::kProtector) {
      std::optional<render::PressurePlotInput> plot =
          render::NextPressurePlot(session, what.state, width, 2 * height);
      if (!plot) throw FormatError("the file holds no samples to draw");
      picture.lower.push_back(render::PressurePlot(std::move(*plot)));
    }
    switch (kind) {
      case Kind::kPressure: {
        if (plan) {
          picture.lower.push_back(
              render::ReflexCurve(plan->LastSample, plan->SampleInterval, plan->timing));
        }
        break;
      }
      case Kind::kSpectrum: {
        const auto samples = session.Pressure.Range(0, session.LastSample);
        picture.upper.push_back(
            render::Spectrum(std::make_shared<const Leq300msSpectrum>(
                                 ComputeLeq300msSpectrum(samples, session.SampleInterval)),
                             session.WaveformTitle, true));
        break;
      }
      case Kind::kProtector: {
        ProtectorCommandState protector_state;
        ProtectOptions options;
        options.table = table->table;
        options.seed_folder = table->seed_folder;
        options.record_index = protector->record;
        options.expected_name = protector->name;
        options.write_files = false;
        auto result = std::make_shared<const ProtectResult>(
            GetHPDData(session, protector_state, protector->ear_model, options, progress));
        picture.upper.push_back(render::ProtectorModel(result));
        picture.lower.push_back(render::PredictedWaveform(
            std::shared_ptr<const std::vector<float>>(result, &result->eardrum),
            session.SampleInterval, session.StartTime));
        break;
      }
      case Kind::kStapes:
      case Kind::kCochlea: {
        PrepareHazardSession(*plan, session);
        const HazardRunResult run = RunHazardPlan(*plan, session, progress);
        if (!run.movie) throw Error("the hazard run kept no movie to draw");
        if (kind == Kind::kStapes) {
          picture.upper.push_back(render::StapesDisplacement(
              run.movie, render::LastMovieFrame(session.LastSample, run.cochlea.FftLength),
              session.SampleInterval, session.StartTime));
        } else {
          picture.upper.push_back(
              render::UnwrappedCochlea(run.movie, run.parameters, run.cochlea.Places));
        }
        break;
      }
    }
    bytes = render::RenderPicture(what, *format);
  });
  if (!ok) return 1;
  const bool written = ForFile(*output, io, [&] {
    WriteFileAtomically(*output, std::string_view(bytes.constData(), bytes.size()));
  });
  if (!written) return 1;
  io.out << *output << "\n";
  return 0;
}
KORVA_CLI_COMMAND(
    {"plot", "draw a picture of the window (pressure plot, spectrum, cochlea, protector) to a file",
     "Usage: korva-cli plot FILE.KRV -o OUT [--format png|svg|pdf] [--width W]\n"
     "                 [--height H] [--warned | --unwarned [--model FILE]]\n"
     "                 [--spectrum | --stapes | --cochlea |\n"
     "                  --protector NAME [--table FILE] [--model FILE]]\n\n"
     "Opens FILE.KRV as the window's Open does and draws one of the window's\n"
     "pictures. By default the pressure-time plot of the lower half of the window:\n"
     "waveform in kilopascals against milliseconds, purple zero line, axes, labels\n"
     "and the title from the header.\n\n"
     "  -o, --output OUT      the picture to write (replaced only when complete)\n"
     "  --format F            png, svg or pdf (default: from OUT's suffix, else png);\n"
     "                        SVG and PDF hold lines and text, one pixel a point\n"
     "  --width W             picture width in pixels (default 1024)\n"
     "  --height H            picture height in pixels (default 384); the picture\n"
     "                        is laid out as in a window of W x 2H\n"
     "  --warned, --unwarned  add the reflex activation curve of that listener\n"
     "  --model FILE          ear-model parameter file for the hazard run\n"
     "                        (default: the one Man.Fig names)\n"
     "  --spectrum            the Leq300ms third-octave spectrum instead\n"
     "  --stapes              the stapes displacement against time of a hazard run\n"
     "                        (needs --warned or --unwarned)\n"
     "  --cochlea             the unwrapped cochlea of a hazard run: displacement\n"
     "                        envelope and hazard per place (needs a listener)\n"
     "  --protector NAME      the protector command's picture, W x 2H: insertion\n"
     "                        loss above, the waveform predicted at the eardrum\n"
     "                        (green) over the free-field one below; unlike\n"
     "                        korva-cli protect it rewrites no table and writes no\n"
     "                        KRV file\n"
     "  --table FILE          the protector table (default: as korva-cli protect)\n\n"
     "Writes no other file. Needs no display: without one, Qt's offscreen\n"
     "platform is used.\n",
     &RunPlot});

}  // namespace
}  // namespace korva::cli
