// korva-cli synth: writes synthetic impulse waveforms as KRV files through
// the program's own writer, so that the bundled examples (data/examples) can
// be remade by anyone and tests can make waveforms of any level.
//
// The impulse is the Friedlander wave of blast acoustics,
//   p(t) = P (1 - t/T) exp(-b t/T) for t >= 0, 0 before,
// with P the peak overpressure, T the positive-phase (A-) duration and b the
// decay constant (b = 1 makes the net impulse zero, as for a free blast wave).
// A reverberant impulse adds reflections of the same wave whose envelope falls
// 20 dB over the B-duration; the whole is then scaled back to the asked peak.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "core/common/error.h"
#include "core/common/levels.h"
#include "core/common/numbers.h"
#include "core/common/random.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/model/middle_ear.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace korva::cli {
namespace {

namespace fs = std::filesystem;

struct ImpulseShape {
  double peak_db = 150.0;     // peak level, dB (94 dB for 1 Pa)
  double a_duration = 0.001;  // s
  double decay = 1.0;         // Friedlander b
  double onset = 0.005;       // s
  double rate = 200000.0;     // samples per second
  std::int32_t samples = 65536;
  std::int32_t location = 1;         // 1 free field, 2 ear-canal entrance, 3 eardrum
  std::optional<double> b_duration;  // s; reverberation when set
  bool at_eardrum = false;           // pass through the free-field-to-eardrum prediction
  std::string title;
};

std::vector<double> Friedlander(const ImpulseShape& shape) {
  std::vector<double> p(static_cast<std::size_t>(shape.samples), 0.0);
  const double peak = PascalsOf94Db(shape.peak_db);
  const double dt = 1.0 / shape.rate;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const double t = static_cast<double>(i) * dt - shape.onset;
    // A sample within a picosecond of the onset is the onset: i dt - onset
    // rounds to either side of 0 for an onset that falls on a sample.
    if (t < -1e-12) continue;
    const double tau = std::max(t, 0.0) / shape.a_duration;
    p[i] = peak * (1.0 - tau) * std::exp(-shape.decay * tau);
  }
  return p;
}

// Reflections from the surfaces of an enclosure: copies of the direct wave at
// pseudo-random delays of 0.3 to 2 ms apart, with random signs, whose amplitude
// falls by 20 dB over the B-duration. The program's own generator with a fixed
// seed makes every run write the same file.
void AddReverberation(const ImpulseShape& shape, std::vector<double>& p) {
  const std::vector<double> direct = p;
  const double dt = 1.0 / shape.rate;
  const auto n = static_cast<std::int64_t>(p.size());
  Lcg generator(1);
  double delay = 0.0;
  const double first_reflection = 0.7;
  for (;;) {
    delay += 0.0003 + 0.0017 * generator.Uniform();
    const auto shift = static_cast<std::int64_t>(std::llround(delay / dt));
    if (shift >= n) break;
    const double sign = generator.Uniform() < 0.5 ? -1.0 : 1.0;
    const double gain = sign * first_reflection * std::pow(10.0, -delay / *shape.b_duration);
    for (std::int64_t i = shift; i < n; ++i) {
      p[static_cast<std::size_t>(i)] += gain * direct[static_cast<std::size_t>(i - shift)];
    }
  }
  const double largest = *std::max_element(p.begin(), p.end());
  const double scale = PascalsOf94Db(shape.peak_db) / largest;
  for (double& v : p) v *= scale;
}

std::string DefaultTitle(const ImpulseShape& shape) {
  std::string kind = shape.b_duration ? "Reverberant Friedlander impulse" : "Friedlander impulse";
  std::string text = kind + ", " + FormatShortest(shape.peak_db) + " dB peak, A-duration " +
                     FormatShortest(shape.a_duration * 1000.0) + " ms";
  if (shape.b_duration) {
    text += ", B-duration about " + FormatShortest(*shape.b_duration * 1000.0) + " ms";
  }
  if (shape.at_eardrum)
    return "Eardrum pressure predicted from a free-field " + text + " (synthetic)";
  static const char* const kWhere[] = {"", "free field", "ear-canal entrance", "eardrum"};
  return text + ", " + kWhere[shape.location] + " (synthetic)";
}

// Builds the waveform in a session laid out as an opened KRV file and saves it.
fs::path WriteImpulse(const ImpulseShape& shape, const fs::path& target,
                      const std::optional<fs::path>& model_file) {
  std::vector<double> p = Friedlander(shape);
  if (shape.b_duration) AddReverberation(shape, p);

  Session session(std::max<std::int32_t>(kMinSampleCapacity, shape.samples));
  const std::int32_t last = shape.samples - 1;
  auto pressure = session.Pressure.Range(0, last);
  for (std::size_t i = 0; i < p.size(); ++i) pressure[i] = static_cast<float>(p[i]);

  std::int32_t location = shape.location;
  if (shape.at_eardrum) {
    const EarModelConstants model = LoadEarModel(ChooseModelFile(model_file.value_or(fs::path())));
    QuietProgress progress;
    TimeDomainModel9(model, static_cast<float>(1.0 / shape.rate), pressure, progress);
    location = 3;
  }

  session.LastSample = last;
  session.SampleRate = static_cast<float>(shape.rate);
  session.SampleInterval = static_cast<float>(1.0 / shape.rate);
  session.MicLocation = location;
  session.Grid.SetImportTemplate();
  session.Grid.ResetResultRows();
  session.Grid.Cell(2, 1) = shape.title.empty() ? DefaultTitle(shape) : shape.title;
  // Whole rates as integers ("200000"), as every KRV file shows them.
  session.Grid.Cell(1, 2) = shape.rate == std::floor(shape.rate)
                                ? FormatInteger(static_cast<long long>(shape.rate))
                                : FormatShortest(shape.rate);
  session.Grid.Cell(1, 3) = FormatInteger(location);
  session.Grid.Cell(1, 4) = FormatInteger(shape.samples);
  session.WaveformTitle = session.Grid.Cell(2, 1);
  UpdateExtremes(session);
  return SaveKrvAs(session, target);
}

// The bundled examples: free-field impulses at four levels, a reverberant
// one, a rifle-like impulse recorded at the ear-canal entrance, and the
// eardrum pressure the ear model predicts for the 150 dB free-field impulse.
std::vector<std::pair<std::string, ImpulseShape>> ExampleSet() {
  std::vector<std::pair<std::string, ImpulseShape>> set;
  for (const double level : {140.0, 150.0, 160.0, 170.0}) {
    ImpulseShape shape;
    shape.peak_db = level;
    set.emplace_back("FRIED" + FormatShortest(level) + ".KRV", shape);
  }
  ImpulseShape reverberant;
  reverberant.b_duration = 0.05;
  set.emplace_back("REVERB.KRV", reverberant);
  ImpulseShape entrance;
  entrance.peak_db = 155.0;
  entrance.a_duration = 0.0003;
  entrance.location = 2;
  set.emplace_back("ENTRANCE.KRV", entrance);
  ImpulseShape eardrum;
  eardrum.at_eardrum = true;
  set.emplace_back("EARDRUM.KRV", eardrum);
  return set;
}

double Positive(const Args& args, const std::string& option, double fallback, double upper) {
  const std::optional<double> v = args.Number(option);
  if (!v) return fallback;
  if (!(*v > 0.0) || !(*v <= upper)) {
    throw UsageError(option + " must be above 0 and at most " + FormatShortest(upper));
  }
  return *v;
}

int RunSynth(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv,
                  {"--peak", "--a-duration", "--decay", "--onset", "--rate", "--samples",
                   "--location", "--b-duration", "--title", "--model", "--examples"},
                  {"--at-eardrum"});
  std::optional<fs::path> model_file;
  if (const auto m = args.Value("--model")) model_file = fs::path(*m);

  if (const auto dir = args.Value("--examples")) {
    if (!args.Positional().empty()) throw UsageError("--examples takes no output file");
    bool all_ok = true;
    for (const auto& [name, shape] : ExampleSet()) {
      const fs::path target = fs::path(*dir) / name;
      all_ok &= ForFile(target.string(), io, [&]() {
        io.out << WriteImpulse(shape, target, model_file).string() << "\n";
      });
    }
    return all_ok ? 0 : 1;
  }

  if (args.Positional().size() != 1) throw UsageError("give one output file");
  ImpulseShape shape;
  if (const auto v = args.Number("--peak")) {
    // Below 0 dB the samples vanish in the file's five digits; above 194 dB
    // the trough would be a negative absolute pressure.
    if (!(*v >= 0.0 && *v <= 194.0)) throw UsageError("--peak must be from 0 to 194 dB");
    shape.peak_db = *v;
  }
  shape.a_duration = Positive(args, "--a-duration", 1.0, 1000.0) / 1000.0;
  shape.decay = Positive(args, "--decay", 1.0, 100.0);
  shape.rate = Positive(args, "--rate", 200000.0, 10e6);
  if (const auto v = args.Integer("--samples")) {
    if (*v < 2 || *v > kMaxSaveAsSamples) {
      throw UsageError("--samples must be from 2 to " + FormatInteger(kMaxSaveAsSamples));
    }
    shape.samples = static_cast<std::int32_t>(*v);
  }
  if (const auto v = args.Number("--onset")) {
    if (!(*v >= 0.0 && *v / 1000.0 < shape.samples / shape.rate)) {
      throw UsageError("--onset must lie within the record");
    }
    shape.onset = *v / 1000.0;
  }
  if (const auto v = args.Integer("--location")) {
    if (*v < 1 || *v > 3) throw UsageError("--location must be 1, 2 or 3");
    shape.location = static_cast<std::int32_t>(*v);
  }
  if (args.Has("--b-duration")) shape.b_duration = Positive(args, "--b-duration", 0, 10000) / 1000;
  shape.at_eardrum = args.Has("--at-eardrum");
  if (shape.at_eardrum && args.Has("--location")) {
    throw UsageError("--at-eardrum makes an eardrum waveform; leave out --location");
  }
  if (const auto t = args.Value("--title")) shape.title = *t;

  const std::string& output = args.Positional().front();
  return ForFile(output, io,
                 [&]() { io.out << WriteImpulse(shape, output, model_file).string() << "\n"; })
             ? 0
             : 1;
}

KORVA_CLI_COMMAND(
    {"synth", "write a synthetic impulse (Friedlander wave) as a KRV file",
     "Usage: korva-cli synth [options] OUTPUT\n"
     "       korva-cli synth --examples DIR [--model FILE]\n"
     "Writes the Friedlander wave p(t) = P (1 - t/T) exp(-b t/T) (0 before the\n"
     "onset) as a KRV file named OUTPUT up to its first \".\" plus \".KRV\", with a\n"
     "title row saying what it is, and prints the path written.\n\n"
     "  --peak DB          peak level in dB, 94 dB for 1 Pa (0 to 194; default 150)\n"
     "  --a-duration MS    positive-phase duration T (default 1)\n"
     "  --decay B          decay constant b (default 1: no net impulse)\n"
     "  --onset MS         time of the peak from the start (default 5)\n"
     "  --rate N           samples per second (default 200000)\n"
     "  --samples N        number of samples, 2 to 1048576 (default 65536;\n"
     "                     the writer pads to a power of two)\n"
     "  --location N       microphone location: 1 free field (default),\n"
     "                     2 ear-canal entrance, 3 eardrum\n"
     "  --b-duration MS    add reflections whose envelope falls 20 dB over this\n"
     "                     time; the sum is scaled back to the peak level\n"
     "  --at-eardrum       write instead the pressure at the eardrum that the ear\n"
     "                     model predicts for this free-field wave (location 3)\n"
     "  --model FILE       ear-model parameter file for --at-eardrum (default: the\n"
     "                     one Man.Fig names, found as for korva-cli hazard)\n"
     "  --title TEXT       title row (default: a description of the wave)\n"
     "  --examples DIR     write the bundled example set into DIR: FRIED140, 150,\n"
     "                     160 and 170 (free field, 1 ms), REVERB (150 dB, B-duration\n"
     "                     about 50 ms), ENTRANCE (155 dB, 0.3 ms, ear-canal\n"
     "                     entrance) and EARDRUM (FRIED150 at the eardrum)\n",
     &RunSynth});

}  // namespace
}  // namespace korva::cli
