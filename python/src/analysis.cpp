#include "python/src/analysis.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/fields.h"
#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/common/pool.h"
#include "core/metrics/leq300.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/protection/hpd_table.h"
#include "core/protection/protect_command.h"
#include "core/waveform/krv.h"
#include "python/src/doc.h"
#include "python/src/interrupt.h"
#include "python/src/waveform.h"

namespace korva::python {
namespace {

namespace py = pybind11;
namespace fs = std::filesystem;

std::vector<Listener> ListenersOf(const std::string& listener) {
  if (listener == "both") return {Listener::Warned, Listener::Unwarned};
  if (listener == "warned") return {Listener::Warned};
  if (listener == "unwarned") return {Listener::Unwarned};
  throw py::value_error("listener must be \"both\", \"warned\" or \"unwarned\", not \"" + listener +
                        "\"");
}

// The ear-model file: the one given, else the one the CLI would use.
fs::path ModelFile(const std::optional<fs::path>& model) {
  try {
    return ChooseModelFile(model.value_or(fs::path()));
  } catch (const IoError& e) {
    throw IoError(std::string(e.what()) + " (name one with model=PATH)");
  }
}

ProtectorTableChoice TableFile(const std::optional<fs::path>& table) {
  try {
    return ChooseProtectorTable(table);
  } catch (const IoError& e) {
    throw IoError(std::string(e.what()) + " (name one with table=PATH)");
  }
}

// The threads of this process's pool: inside a Dask worker as many as the
// worker runs tasks with (its tasks already run side by side; a worker of one
// thread gets a pool of one), else the cores the process may use. Asked with
// the interpreter lock held.
int PoolThreads() {
  const py::dict modules = py::module_::import("sys").attr("modules");
  if (modules.contains("distributed")) {
    try {
      return modules["distributed"].attr("get_worker")().attr("nthreads").cast<int>();
    } catch (const py::error_already_set&) {
      // Not in a worker.
    }
  }
  return CoreCount();
}

// One pool per process for the listeners and cochlear places of every call,
// made by the first call that wants one (null for a pool of one). It lives
// as long as the process: idle threads cost nothing, and none is left to join
// while the interpreter shuts down.
ThreadPool* Pool() {
  static const int threads = PoolThreads();
  static ThreadPool* const pool = threads > 1 ? new ThreadPool(threads) : nullptr;
  return pool;
}

// Options of an analysis on this process's pool.
AnalysisOptions OnPool(std::vector<Listener> listeners, const std::optional<fs::path>& model) {
  AnalysisOptions options;
  options.listeners = std::move(listeners);
  if (!options.listeners.empty()) options.model_file = ModelFile(model);
  options.pool = Pool();
  return options;
}

// A failed part of an analysis that a function returns whole, raised again.
void Raise(const PartError& error) {
  if (error.exception) std::rethrow_exception(error.exception);
  if (error.failed()) throw Error(error.message);
}

template <class T>
py::object OrNone(const std::optional<T>& value) {
  return value ? py::cast(*value) : py::object(py::none());
}

template <class T>
py::array_t<T> ArrayOf(const std::vector<T>& values) {
  py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), array.mutable_data());
  return array;
}

struct ListenerResult {
  std::string listener;
  double aru = 0.0;
  std::optional<double> allowed;
  std::string aru_text;
  std::string allowed_text;
  py::array_t<float> section_hazard;
  int worst_section = 0;
  int fft_length = 0;
  py::object stapes = py::none();
  int capped_samples = 0;
};

struct HazardResult {
  int mic_location = 1;
  ModelFileId model;
  std::optional<ListenerResult> warned;
  std::optional<ListenerResult> unwarned;
};

ListenerResult ResultOf(const HazardRunResult& run) {
  const CochlearResult& c = run.cochlea;
  ListenerResult r;
  r.listener = ListenerName(run.listener);
  r.aru = c.TotalHazardARU;
  r.allowed = AllowedExposures(c.TotalHazardARU);
  r.aru_text = run.HazardText;
  r.allowed_text = run.AllowedText;
  r.section_hazard = ArrayOf(
      std::vector<float>(c.SectionHazard.begin() + 1, c.SectionHazard.begin() + 1 + c.Places));
  r.worst_section = c.WorstSection;
  r.fft_length = c.FftLength;
  if (!run.stapes.empty()) r.stapes = ArrayOf(run.stapes);
  r.capped_samples = run.middle_ear.capped_samples;
  return r;
}

HazardResult Hazard(const Waveform& waveform, const std::string& listener,
                    const std::optional<fs::path>& model, bool stapes) {
  const std::vector<Listener> listeners = ListenersOf(listener);
  Pool();  // sized with the interpreter lock held
  Interruption stop;
  const ShotReport shot = Released(stop, [&] {
    AnalysisOptions options = OnPool(listeners, model);
    options.measure = options.describe = false;
    options.keep_stapes = stapes;
    // A file that is no parameter file is reported as such, before any run.
    (void)LoadEarModel(options.model_file);
    InterruptibleProgress progress(stop);
    return Analyze("", waveform.View(), options, progress);
  });
  for (const Listener l : listeners) Raise(shot.hazard_error[ListenerSlot(l)]);
  HazardResult result;
  result.mic_location = shot.mic_location;
  result.model = shot.model;
  if (shot.hazard[0]) result.warned = ResultOf(*shot.hazard[0]);
  if (shot.hazard[1]) result.unwarned = ResultOf(*shot.hazard[1]);
  return result;
}

// A field's value as Python takes it.
py::object PythonValue(const FieldValue& value) {
  switch (value.kind) {
    case FieldValue::Kind::kNone:
      break;
    case FieldValue::Kind::kInteger:
      return py::int_(static_cast<long long>(value.number));
    case FieldValue::Kind::kNumber:
      return py::float_(value.number);
    case FieldValue::Kind::kText:
      return py::str(value.text);
    case FieldValue::Kind::kSingles:
      return ArrayOf(value.singles);
  }
  return py::none();
}

// The fields of a shot as a dict, under their columns, in order.
py::dict FieldsDict(const ShotReport& shot, const std::vector<const Field*>& fields) {
  py::dict d;
  for (const Field* field : fields) d[py::str(field->Column())] = PythonValue(field->value(shot));
  return d;
}

// The interval analysis of samples first..last (last: None for the last
// sample): the metrics, or the descriptors.
ShotReport IntervalAnalysis(const Waveform& waveform, long long first,
                            std::optional<long long> last, bool descriptors) {
  Pool();  // sized with the interpreter lock held
  Interruption stop;
  const ShotReport shot = Released(stop, [&] {
    AnalysisOptions options = OnPool({}, std::nullopt);
    options.measure = !descriptors;
    options.describe = descriptors;
    options.interval.first = first;
    options.interval.last = last;
    InterruptibleProgress progress(stop);
    return Analyze("", waveform.View(), options, progress);
  });
  Raise(shot.describe_error);
  return shot;
}

py::dict Metrics(const Waveform& waveform, long long first, std::optional<long long> last) {
  return FieldsDict(IntervalAnalysis(waveform, first, last, false), FieldsOf(FieldGroup::kMetric));
}

py::dict Describe(const Waveform& waveform, long long first, std::optional<long long> last) {
  return FieldsDict(IntervalAnalysis(waveform, first, last, true),
                    FieldsOf(FieldGroup::kDescriptor));
}

struct Spectrum {
  py::array_t<int> bands;
  py::array_t<double> centre_hz;
  py::array_t<double> level_db;
  double df_hz = 0.0;
  double narrow_band_max_db = 0.0;
  double narrow_band_max_hz = 0.0;
};

Spectrum SpectrumOf(const Waveform& waveform) {
  Interruption stop;
  const Leq300msSpectrum s =
      Released(stop, [&] { return Leq300msSpectrumOf(SessionOf(waveform)); });
  std::vector<int> bands;
  std::vector<double> centres, levels;
  for (int b = s.bands.first; b <= s.bands.last; ++b) {
    bands.push_back(b);
    centres.push_back(BandEnergies::CentreFrequency(b));
    levels.push_back(s.bands.Level(b));
  }
  return {ArrayOf(bands), ArrayOf(centres),      ArrayOf(levels),
          s.bins.df,      s.bins.LargestLevel(), s.bins.LargestFrequency()};
}

py::tuple Protect(const Waveform& waveform, const std::string& protector,
                  const std::optional<fs::path>& table, const std::optional<fs::path>& model) {
  Interruption stop;
  auto [result, protected_waveform] = Released(stop, [&] {
    const ProtectorTableChoice choice = TableFile(table);
    const fs::path& table_path = choice.table;
    const EarModelParameters ear_model = ReadEarModelFile(ModelFile(model));
    const std::optional<int> record = ReadProtectorTable(table_path).FindDefaultMode(protector);
    if (!record) {
      throw Error(WithFile(table_path.string(), "no default-mode protector named \"" + protector +
                                                    "\" (see korva.protectors())"));
    }
    const Session session = SessionOf(waveform);
    ProtectorCommandState state;
    ProtectOptions options;
    options.table = table_path;
    options.seed_folder = choice.seed_folder;
    options.record_index = *record;
    options.expected_name = protector;
    options.write_files = false;
    InterruptibleProgress progress(stop);
    ProtectResult run = GetHPDData(session, state, ear_model, options, progress);
    auto out = std::make_shared<Waveform>(WaveformOf(ProtectedWaveform(session, run.eardrum)));
    return std::make_pair(std::move(run), std::move(out));
  });
  py::dict d;
  d["protector"] = result.data.record.name;
  d["kind"] = KindText(result.code.word);
  d["code"] = result.code.model_code;
  d["seeded"] = result.seeded;
  d["rms_error_db"] = result.plot.rms_error;
  d["samples"] = result.samples_written;
  d["peak_free_field_db"] = OrNone(PeakLevel(result.peak_free_field));
  d["peak_under_protector_db"] = OrNone(PeakLevel(result.peak_under_protector));
  d["peak_eardrum_db"] = OrNone(PeakLevel(result.peak_eardrum));
  d["peak_insertion_loss_db"] = OrNone(PeakInsertionLoss(result));
  return py::make_tuple(protected_waveform, d);
}

std::vector<std::string> Protectors(const std::optional<fs::path>& table) {
  Interruption stop;
  return Released(stop, [&] {
    const ProtectorTable t = ReadProtectorTable(TableFile(table).table);
    std::vector<std::string> names;
    for (const int index : t.DefaultModeItems()) {
      names.push_back(t.records[static_cast<std::size_t>(index)].name);
    }
    return names;
  });
}

fs::path CheckedModelFile(const std::optional<fs::path>& model) {
  Interruption stop;
  return Released(stop, [&] {
    const fs::path path = ModelFile(model);
    (void)LoadEarModel(path);
    return path;
  });
}

// One row of analyze_files: the file opened as the window opens it and
// analysed as korva-cli report analyses it, under the columns of its CSV.
py::dict AnalyzeFileRow(const py::object& file, const std::string& listener,
                        const std::optional<fs::path>& model, const StopToken* token) {
  const std::vector<Listener> listeners = ListenersOf(listener);
  const std::string path = file.cast<fs::path>().string();
  Pool();  // sized with the interpreter lock held
  Interruption stop(token);
  const ShotReport shot = Released(stop, [&] {
    InterruptibleProgress progress(stop);
    return AnalyzeFile(path, OnPool(listeners, model), progress);
  });
  return FieldsDict(shot, TableFields());
}

// The columns of analyze_files' frame and the kind of their values.
py::list Columns() {
  py::list columns;
  for (const Field* field : TableFields()) {
    const char* kind = field->kind == FieldValue::Kind::kInteger  ? "integer"
                       : field->kind == FieldValue::Kind::kNumber ? "number"
                                                                  : "text";
    columns.append(py::make_tuple(field->Column(), kind));
  }
  return columns;
}

std::string ListenerRepr(const ListenerResult& r) {
  return "<korva.ListenerResult " + r.listener + ": " + r.aru_text + " A.R.U., allowed " +
         r.allowed_text + ", worst section " + std::to_string(r.worst_section) + ">";
}

}  // namespace

void DefineAnalysis(py::module_& m) {
  py::class_<StopToken>(m, "StopToken",
                        Doc("A flag that stops the computations it is given to at their next "
                            "progress point (analyze_files uses it to stop its threads).")
                            .c_str())
      .def(py::init<>())
      .def("request", &StopToken::Request, "Asks the computations to stop.")
      .def_property_readonly("requested", &StopToken::Requested, "Whether a stop was asked for.");

  py::class_<ListenerResult>(m, "ListenerResult",
                             Doc("The hazard for one listener (warned or unwarned).").c_str())
      .def_readonly("listener", &ListenerResult::listener, "\"warned\" or \"unwarned\".")
      .def_readonly("aru", &ListenerResult::aru,
                    Doc("The hazard in auditory risk units (A.R.U.): the largest hazard of the "
                        "cochlear places (a single-precision value).")
                        .c_str())
      .def_readonly(
          "allowed", &ListenerResult::allowed,
          Doc("The allowed number of exposures, 500 / aru; None for a hazard of 0.").c_str())
      .def_readonly(
          "aru_text", &ListenerResult::aru_text,
          Doc("The hazard as the window shows it (\"0.1727\", \"19.31\", \"1234\").").c_str())
      .def_readonly(
          "allowed_text", &ListenerResult::allowed_text,
          Doc("The allowed number with one decimal, \"unlimited\" for a hazard of 0.").c_str())
      .def_readonly(
          "section_hazard", &ListenerResult::section_hazard,
          Doc("The hazard of each cochlear place, from the base (float32 array).").c_str())
      .def_readonly("worst_section", &ListenerResult::worst_section,
                    Doc("The place (from 1) with the largest hazard, the first of equals.").c_str())
      .def_readonly("fft_length", &ListenerResult::fft_length,
                    Doc("The transform length the cochlea used (a power of two).").c_str())
      .def_readonly("stapes", &ListenerResult::stapes,
                    Doc("The stapes displacement in micrometres, one value per sample "
                        "(float32 array), when hazard() was asked for it with stapes=True; else "
                        "None.")
                        .c_str())
      .def_readonly("capped_samples", &ListenerResult::capped_samples,
                    Doc("Samples where the middle ear's substep refinement stopped at its bound "
                        "rather than by agreement (worth knowing, not a failure).")
                        .c_str())
      .def("__repr__", &ListenerRepr);

  py::class_<HazardResult>(m, "HazardResult", "The result of hazard(): one entry per listener.")
      .def_readonly("warned", &HazardResult::warned,
                    Doc("The warned listener's ListenerResult (reflex active before the sound), "
                        "or None when it was not run.")
                        .c_str())
      .def_readonly("unwarned", &HazardResult::unwarned,
                    Doc("The unwarned listener's ListenerResult (reflex after its delay), or None "
                        "when it was not run.")
                        .c_str())
      .def_readonly("mic_location", &HazardResult::mic_location,
                    Doc("The microphone location the middle ear was chosen by.").c_str())
      .def_property_readonly(
          "model_file", [](const HazardResult& r) { return r.model.file; },
          "The ear-model parameter file the run used, as an absolute path.")
      .def_property_readonly(
          "model_sha256", [](const HazardResult& r) { return r.model.sha256; },
          "The SHA-256 of that file, naming the exact parameters used.")
      .def("__repr__", [](const HazardResult& r) {
        std::string text = "<korva.HazardResult";
        for (const auto* l : {&r.warned, &r.unwarned}) {
          if (*l) text += " " + (*l)->listener + " " + (*l)->aru_text + " A.R.U.";
        }
        return text + ">";
      });

  py::class_<Spectrum>(m, "Spectrum",
                       Doc("The Leq300ms third-octave spectrum: the energy of the whole waveform "
                           "in each one-third-octave band as the steady level that, lasting "
                           "300 ms, carries the same energy (dB re 20 uPa, rho c = 407 rayl).")
                           .c_str())
      .def_readonly("bands", &Spectrum::bands,
                    Doc("Band numbers (band b is centred at 10^(b/10) Hz; 30 is 1 kHz).").c_str())
      .def_readonly("centre_hz", &Spectrum::centre_hz, "Band centre frequencies in Hz.")
      .def_readonly("level_db", &Spectrum::level_db, "Band levels in dB.")
      .def_readonly("df_hz", &Spectrum::df_hz, "The frequency resolution in Hz.")
      .def_readonly("narrow_band_max_db", &Spectrum::narrow_band_max_db,
                    "The largest narrow-band level in dB.")
      .def_readonly("narrow_band_max_hz", &Spectrum::narrow_band_max_hz,
                    Doc("The frequency of the largest narrow-band level in Hz.").c_str());

  m.def("hazard", &Hazard, py::arg("waveform"), py::arg("listener") = "both",
        py::arg("model") = py::none(), py::arg("stapes") = false,
        Doc("Runs the ear model on the waveform as korva-cli hazard does (the same file gives "
            "the same numbers): the middle ear chosen by the microphone location (1 or 4 free "
            "field, 2 ear-canal entrance, 3 eardrum), then the cochlea.\n\n"
            "listener: \"both\", \"warned\" or \"unwarned\". The listeners and the cochlear "
            "places run side by side on one pool of threads per process, as many as the cores "
            "the process may use (in a Dask worker, as many as the worker's threads).\n"
            "model: the ear-model parameter file, or None for the one the CLI uses (named by "
            "Man.Fig in the current folder, $KORVA_DATA_DIR or the program's data folder).\n"
            "stapes: also return the stapes displacement.\n"
            "Nothing is written (no place table). Ctrl-C stops the run at its next progress "
            "point with KeyboardInterrupt.")
            .c_str());
  m.def("metrics", &Metrics, py::arg("waveform"), py::arg("first") = 0,
        py::arg("last") = py::none(),
        Doc("The energy metrics of samples first..last (inclusive; default the whole waveform), "
            "as korva-cli metrics --json gives them: a dict with LAeqInterval (dB), LAeq8hr "
            "(dB), AllowedRounds (exposures per day by 85 dB(A) with a 3 dB exchange), "
            "AWeightedExposure (J/m^2) and LeqInterval (dB). A silent interval has None for "
            "the levels and the rounds. korva.Error for an interval outside the waveform.")
            .c_str());
  m.def("describe", &Describe, py::arg("waveform"), py::arg("first") = 0,
        py::arg("last") = py::none(),
        Doc("The impulse descriptors of samples first..last (inclusive; default the whole "
            "waveform), as korva-cli report --json gives them: a dict with peak_db, peak_pa "
            "(the signed value of the largest |p|), peak_time_ms, a_duration_ms, b_duration_ms, "
            "c_duration_ms, rise_time_ms, lcpeak_db, lae_db, lze_db, liaeq100ms_db, kurtosis "
            "and crest_factor_db. Levels are dB re 20 uPa, times milliseconds from sample "
            "`first`. None where a value has no meaning (the levels of a silent interval, the "
            "rise time of a peak with no quiet sample before it). korva.Error for an interval "
            "outside the waveform or of fewer than 2 samples.")
            .c_str());
  m.def("spectrum", &SpectrumOf, py::arg("waveform"),
        Doc("The Leq300ms third-octave spectrum of the whole waveform, as korva-cli spectrum "
            "computes it (no .TOB table is written). korva.Error for a waveform with no "
            "energy in its bands or of 1,048,576 samples or more.")
            .c_str());
  m.def("protect", &Protect, py::arg("waveform"), py::arg("protector"),
        py::arg("table") = py::none(), py::arg("model") = py::none(),
        Doc("Predicts the waveform under a hearing protector, as korva-cli protect does: the "
            "protector's circuit (from its record of the protector table, or modelled from "
            "the seed file of its kind) turns the free-field waveform into the pressure under "
            "the protector, and the ear model into the pressure at the eardrum.\n\n"
            "Returns (Waveform, dict): the predicted waveform at the eardrum (location 3, "
            "padded to a power of two, as korva-cli protect writes it) and a dict with "
            "protector, kind, code, seeded, rms_error_db, samples, peak_free_field_db, "
            "peak_under_protector_db, peak_eardrum_db and peak_insertion_loss_db (None where "
            "a peak is 0).\n"
            "protector: the name of a default-mode record (see protectors()).\n"
            "table: the protector table, or None for \"HPD Atten.txt\" of the data folder.\n"
            "model: the ear-model parameter file, or None for the default.\n"
            "Unlike the window, nothing is written: the table keeps its circuit values.")
            .c_str());
  m.def("protectors", &Protectors, py::arg("table") = py::none(),
        Doc("The names of the default-mode protectors of the protector table (None: \"HPD "
            "Atten.txt\" of the data folder), for protect().")
            .c_str());
  m.def(
      "default_model", [] { return CheckedModelFile(std::nullopt); },
      Doc("The ear-model parameter file used when model=None: the file named by Man.Fig in "
          "the current folder, $KORVA_DATA_DIR or the data folder installed with the package. "
          "korva.IoError when there is none, korva.FormatError when it is no parameter file.")
          .c_str());
  m.def("_set_program_data_dir", &SetProgramDataDir, py::arg("folder"),
        Doc("Names the data folder installed with the package, looked in after the current "
            "folder and $KORVA_DATA_DIR (the package's __init__ calls it).")
            .c_str());
  m.def(
      "_model_file", &CheckedModelFile, py::arg("model") = py::none(),
      Doc("The ear-model file `model` names (None: the default), read once to check it.").c_str());
  m.def("_analyze_file", &AnalyzeFileRow, py::arg("path"), py::arg("listener") = "both",
        py::arg("model") = py::none(), py::arg("stop") = nullptr,
        Doc("One row of analyze_files() as a dict under the columns of _columns(): the file "
            "opened as the window opens it and analysed as korva-cli report analyses it (the "
            "descriptors and metrics of the whole waveform, each listener's hazard). A failure "
            "is reported in 'error' and the other parts go on; a stop request raises "
            "KeyboardInterrupt.")
            .c_str());
  m.def("_columns", &Columns,
        Doc("The columns of analyze_files() in order, as (name, kind) with kind \"integer\", "
            "\"number\" or \"text\": the columns of korva-cli report --csv.")
            .c_str());
}

}  // namespace korva::python
