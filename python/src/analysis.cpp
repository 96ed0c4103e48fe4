#include "python/src/analysis.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/metrics/impulse_descriptors.h"
#include "core/metrics/interval_metrics.h"
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

std::size_t Slot(Listener listener) {
  return listener == Listener::Warned ? 0 : 1;
}

// The ear-model file: the one given, else the one the CLI would use.
fs::path ModelFile(const std::optional<fs::path>& model) {
  if (model) return *model;
  try {
    return DefaultModelFile();
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

// One listener's run on its own copy of the opened waveform, as korva-cli
// runs it, except that no place table is written beside the file.
HazardRunResult RunListener(const Session& opened, Listener listener, const fs::path& model_file,
                            bool keep_stapes, Interruption& stop) {
  Session session = opened;
  HazardRunOptions options;
  options.listener = listener;
  options.model_file = model_file;
  options.keep_movie = false;
  options.write_place_table = false;
  options.keep_stapes = keep_stapes;
  InterruptibleProgress progress(stop);
  return RunHazardAnalysis(session, options, progress);
}

using ListenerRuns = std::array<std::optional<HazardRunResult>, 2>;

// The listeners' runs, the second (when there are two) on a thread of its
// own, as korva-cli runs them. A failure in one stops the other; the first
// real error wins over the stop it caused.
ListenerRuns RunListeners(const Session& opened, const std::vector<Listener>& listeners,
                          const fs::path& model_file, bool keep_stapes, Interruption& stop) {
  struct Outcome {
    std::exception_ptr error;
    bool stopped = false;
  };
  ListenerRuns runs;
  std::array<Outcome, 2> outcomes;
  const auto run = [&](Listener listener) {
    try {
      runs[Slot(listener)] = RunListener(opened, listener, model_file, keep_stapes, stop);
    } catch (const Cancelled&) {
      outcomes[Slot(listener)].stopped = true;
    } catch (...) {
      outcomes[Slot(listener)].error = std::current_exception();
      stop.Stop();
    }
  };
  if (listeners.size() == 2) {
    std::thread second(run, listeners[1]);
    run(listeners[0]);
    second.join();
  } else {
    run(listeners[0]);
  }
  for (const Outcome& outcome : outcomes) {
    if (outcome.error) std::rethrow_exception(outcome.error);
  }
  for (const Outcome& outcome : outcomes) {
    if (outcome.stopped) throw Cancelled();
  }
  return runs;
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
  Interruption stop;
  HazardResult result;
  const ListenerRuns runs = Released(stop, [&] {
    const fs::path model_file = ModelFile(model);
    result.model = IdentifyModelFile(model_file);
    const Session opened = ToSession(waveform);
    return RunListeners(opened, listeners, model_file, stapes, stop);
  });
  for (const auto& run : runs) {
    if (!run) continue;
    result.mic_location = run->MicLocation;
    (run->listener == Listener::Warned ? result.warned : result.unwarned) = ResultOf(*run);
  }
  return result;
}

constexpr std::array<const char*, 5> kMetricsKeys = {"LAeqInterval", "LAeq8hr", "AllowedRounds",
                                                     "AWeightedExposure", "LeqInterval"};

// The metrics under the keys of korva-cli metrics --json (kMetricsKeys).
py::dict MetricsDict(const IntervalResults& r) {
  py::dict d;
  d["LAeqInterval"] = OrNone(r.LAeqInterval);
  d["LAeq8hr"] = OrNone(r.LAeq8hr);
  d["AllowedRounds"] = OrNone(r.AllowedRounds);
  d["AWeightedExposure"] = r.AWeightedExposure;
  d["LeqInterval"] = OrNone(r.LeqInterval);
  return d;
}

// Samples first..last of the waveform (last: None for its last sample).
Selection IntervalOf(const Waveform& w, long long first, std::optional<long long> last) {
  const auto last_sample = static_cast<std::int32_t>(w.samples.size() - 1);
  return IntervalWithin(last_sample, w.SampleInterval, static_cast<double>(first),
                        static_cast<double>(last.value_or(last_sample)));
}

py::dict Metrics(const Waveform& waveform, long long first, std::optional<long long> last) {
  Interruption stop;
  return MetricsDict(Released(stop, [&] {
    const Selection sel = IntervalOf(waveform, first, last);
    return IntervalMetrics(waveform.samples, waveform.SampleInterval, sel.first, sel.last);
  }));
}

// The impulse descriptors under the keys of korva-cli report --json.
py::dict Describe(const Waveform& waveform, long long first, std::optional<long long> last) {
  Interruption stop;
  const ImpulseDescriptors descriptors = Released(stop, [&] {
    const Selection sel = IntervalOf(waveform, first, last);
    const std::span<const float> samples(waveform.samples);
    return DescribeImpulse(samples.subspan(static_cast<std::size_t>(sel.first),
                                           static_cast<std::size_t>(sel.last - sel.first) + 1),
                           waveform.SampleInterval);
  });
  py::dict d;
  for (const auto& [name, value] : NamedDescriptors(descriptors)) d[name] = OrNone(value);
  return d;
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
      Released(stop, [&] { return Leq300msSpectrumOf(ToSession(waveform)); });
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
    const Session session = ToSession(waveform);
    ProtectorCommandState state;
    ProtectOptions options;
    options.table = table_path;
    options.seed_folder = choice.seed_folder;
    options.record_index = *record;
    options.expected_name = protector;
    options.write_files = false;
    InterruptibleProgress progress(stop);
    ProtectResult run = GetHPDData(session, state, ear_model, options, progress);
    auto out = std::make_shared<Waveform>(FromSession(ProtectedWaveform(session, run.eardrum)));
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

// One row of analyze_files: the file opened as the window opens it, the
// metrics of the whole waveform, then each listener's hazard. What was
// computed before a failure stays; `error` holds the failure's message.
struct Row {
  std::optional<long long> samples;
  std::optional<double> rate;
  std::optional<long long> mic_location;
  std::array<std::optional<double>, 2> aru, allowed;
  std::optional<IntervalResults> metrics;
  std::optional<std::string> error;
};

Row AnalyzeFile(const fs::path& path, const std::vector<Listener>& listeners,
                const std::optional<fs::path>& model, Interruption& stop) {
  Row row;
  try {
    const fs::path model_file = ModelFile(model);
    Session session;
    InterruptibleProgress progress(stop);
    OpenWaveform(session, path, progress);
    row.samples = session.SampleCount();
    row.rate = session.SampleRate;
    row.mic_location = session.MicLocation;
    row.metrics = IntervalMetrics(session.Pressure.Range(0, session.LastSample),
                                  session.SampleInterval, 0, session.LastSample);
    for (const Listener listener : listeners) {
      const HazardRunResult run = RunListener(session, listener, model_file, false, stop);
      row.aru[Slot(listener)] = run.cochlea.TotalHazardARU;
      row.allowed[Slot(listener)] = AllowedExposures(run.cochlea.TotalHazardARU);
    }
  } catch (const Cancelled&) {
    throw;  // the whole batch stops, not this file
  } catch (const Error& e) {
    row.error = e.what();
  } catch (const std::bad_alloc&) {
    row.error = "not enough memory";
  }
  return row;
}

py::dict AnalyzeFileRow(const py::object& file, const std::string& listener,
                        const std::optional<fs::path>& model, const StopToken* token) {
  const std::vector<Listener> listeners = ListenersOf(listener);
  const fs::path path = file.cast<fs::path>();
  Interruption stop(token);
  const Row row = Released(stop, [&] { return AnalyzeFile(path, listeners, model, stop); });
  py::dict d;
  d["file"] = py::str(file);
  d["samples"] = OrNone(row.samples);
  d["rate"] = OrNone(row.rate);
  d["mic_location"] = OrNone(row.mic_location);
  d["warned_aru"] = OrNone(row.aru[0]);
  d["warned_allowed"] = OrNone(row.allowed[0]);
  d["unwarned_aru"] = OrNone(row.aru[1]);
  d["unwarned_allowed"] = OrNone(row.allowed[1]);
  if (row.metrics) {
    d.attr("update")(MetricsDict(*row.metrics));
  } else {
    for (const char* key : kMetricsKeys) d[key] = py::none();
  }
  d["error"] = OrNone(row.error);
  return d;
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
            "listener: \"both\", \"warned\" or \"unwarned\"; both run at once on two threads.\n"
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
        Doc("One row of analyze_files() as a dict: the file opened as the window opens it, "
            "the metrics of the whole waveform and each listener's hazard. A failure is "
            "reported in 'error' (what was computed before it stays); a stop request raises "
            "KeyboardInterrupt.")
            .c_str());
}

}  // namespace korva::python
