#include "python/src/shots.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/analysis/series.h"
#include "core/common/numbers.h"
#include "core/recording/shot_files.h"
#include "core/recording/shots.h"
#include "python/src/analysis.h"
#include "python/src/doc.h"
#include "python/src/interrupt.h"
#include "python/src/recording.h"

namespace korva::python {
namespace {

namespace py = pybind11;
namespace fs = std::filesystem;

// A shot found by find_shots, with what its KRV file needs; its waveform is
// made when first asked for.
struct PythonShot {
  Shot shot;
  ShotSource source;
  std::shared_ptr<Waveform> waveform;
};

void CheckMicLocation(int mic_location) {
  if (mic_location < 1 || mic_location > 3) {
    throw py::value_error(
        "mic_location must be 1 (free field), 2 (ear-canal entrance) or 3 (eardrum)");
  }
}

// A waveform searched like a recording of one channel: its samples are
// pascals already.
ShotSource WaveformSource(const Waveform& w, int mic_location) {
  RecordingInfo info;
  const std::string name = w.WaveformTitle.empty() ? std::string("waveform") : w.WaveformTitle;
  info.path = w.file.empty() ? fs::path(name) : w.file;
  info.format = "waveform";
  info.encoding = "single precision";
  info.channels = 1;
  info.frames = static_cast<std::int64_t>(w.samples.size());
  info.rate = w.SampleRate;
  Calibration pascals;
  pascals.text = "pascals as the waveform holds them";
  return SourceOf(info, 0, pascals, mic_location);
}

std::vector<std::shared_ptr<PythonShot>> FindShotsIn(const py::object& searched, double threshold,
                                                     double min_peak, double pre, double post,
                                                     double min_gap, int mic_location) {
  CheckMicLocation(mic_location);
  const ShotOptions options{threshold, min_peak, pre, post, min_gap};
  std::span<const float> samples;
  ShotSource source;
  std::int64_t first_frame = 0;
  if (py::isinstance<Recording>(searched)) {
    const auto& r = searched.cast<const Recording&>();
    samples = r.samples;
    source = SourceOf(r.info, r.channel, r.calibration, mic_location);
    first_frame = r.range.first;
  } else if (py::isinstance<Waveform>(searched)) {
    const auto& w = searched.cast<const Waveform&>();
    samples = w.samples;
    source = WaveformSource(w, mic_location);
  } else {
    throw py::type_error("find_shots searches a korva.Recording or a korva.Waveform");
  }
  Interruption stop;
  ShotList found = Released(stop, [&] {
    return FindShots(samples, source.info.rate, options, source.channel, first_frame);
  });
  std::vector<std::shared_ptr<PythonShot>> shots;
  for (Shot& shot : found.shots) {
    shots.push_back(std::make_shared<PythonShot>(PythonShot{std::move(shot), source, nullptr}));
  }
  return shots;
}

std::shared_ptr<Waveform> WaveformOfShot(PythonShot& s) {
  if (!s.waveform) {
    Interruption stop;
    s.waveform =
        Released(stop, [&] { return std::make_shared<Waveform>(ShotWaveform(s.source, s.shot)); });
  }
  return s.waveform;
}

// The recording keywords of analyze_files, as korva-cli report takes its options.
InputOptions InputsOf(bool shots, const py::dict& keywords) {
  InputOptions inputs;
  inputs.split = shots;
  ShotSearch& search = inputs.search;
  RecordingRequest& r = search.recording;
  CalibrationRequest& c = r.calibration;
  for (const auto& [key, value] : keywords) {
    const std::string name = key.cast<std::string>();
    if (value.is_none()) continue;
    if (name == "channel")
      r.channel = value.cast<int>();
    else if (name == "start")
      r.from_s = value.cast<double>();
    else if (name == "stop")
      r.to_s = value.cast<double>();
    else if (name == "scale")
      c.scale = value.cast<double>();
    else if (name == "sensitivity")
      c.sensitivity = value.cast<double>();
    else if (name == "full_scale")
      c.full_scale = value.cast<double>();
    else if (name == "calibrator")
      c.calibrator = value.cast<fs::path>();
    else if (name == "calibrator_level")
      c.calibrator_level = value.cast<double>();
    else if (name == "calibrator_channel")
      c.calibrator_channel = value.cast<int>();
    else if (name == "calibrator_frequency")
      c.calibrator_frequency = value.cast<double>();
    else if (name == "variable")
      r.source.variable = value.cast<std::string>();
    else if (name == "rate")
      r.source.rate = value.cast<double>();
    else if (name == "rate_variable")
      r.source.rate_variable = value.cast<std::string>();
    else if (name == "mic_location")
      search.mic_location = value.cast<int>();
    else if (name == "threshold")
      search.shots.threshold_db = value.cast<double>();
    else if (name == "min_peak")
      search.shots.min_peak_db = value.cast<double>();
    else if (name == "pre")
      search.shots.pre_ms = value.cast<double>();
    else if (name == "post")
      search.shots.post_ms = value.cast<double>();
    else if (name == "min_gap")
      search.shots.min_gap_ms = value.cast<double>();
    else
      throw py::type_error("analyze_files() got an unexpected keyword argument '" + name + "'");
  }
  CheckMicLocation(search.mic_location);
  if (shots) CheckShotOptions(search.shots);
  return inputs;
}

py::list AnalyzeInput(const py::object& path, const std::string& listener,
                      const std::optional<fs::path>& model, const StopToken* token, bool shots,
                      const py::dict& keywords, const std::vector<std::string>& protectors,
                      const std::optional<fs::path>& table) {
  return AnalyzeInputRows(path.cast<fs::path>().string(), listener, model, token,
                          InputsOf(shots, keywords), protectors, table);
}

std::string Repr(const PythonShot& s) {
  return "<korva.Shot " + FormatInteger(s.shot.number) + " at " + FormatFixed(s.shot.time_s, 3) +
         " s: " + FormatFixed(s.shot.peak_db, 2) + " dB, " + FormatInteger(s.shot.samples) +
         " samples>";
}

}  // namespace

void DefineShots(py::module_& m) {
  py::class_<PythonShot, std::shared_ptr<PythonShot>>(
      m, "Shot",
      Doc("A shot found by find_shots: the window cut around one impulse (with its echoes) of "
          "a recording, as korva-cli shots lists it.")
          .c_str())
      .def_property_readonly(
          "shot", [](const PythonShot& s) { return s.shot.number; }, "Its number, from 1.")
      .def_property_readonly(
          "time_s", [](const PythonShot& s) { return s.shot.time_s; },
          Doc("Seconds from the recording's start to where |p| crossed the threshold.").c_str())
      .def_property_readonly(
          "first_sample", [](const PythonShot& s) { return s.shot.first_sample; },
          "The recording's frame the window starts at.")
      .def_property_readonly(
          "samples", [](const PythonShot& s) { return s.shot.samples; },
          "The window's length in samples.")
      .def_property_readonly(
          "peak_db", [](const PythonShot& s) { return s.shot.peak_db; }, "The peak, dB re 20 uPa.")
      .def_property_readonly(
          "peak_pa", [](const PythonShot& s) { return s.shot.peak_pa; },
          "The peak in pascals, signed (above the ambient offset).")
      .def_property_readonly(
          "channel", [](const PythonShot& s) { return s.shot.channel; }, "The channel searched.")
      .def_property_readonly("waveform", &WaveformOfShot,
                             Doc("The shot as a Waveform: the one its KRV file (write()) opens "
                                 "to, ambient offset taken off, dithered and of a power-of-two "
                                 "length as every opened file is, so hazard() of it gives what "
                                 "korva-cli report --shots gives for the shot.")
                                 .c_str())
      .def(
          "write",
          [](const PythonShot& s, const fs::path& folder) {
            Interruption stop;
            return Released(stop, [&] { return WriteShotFile(s.source, s.shot, folder); });
          },
          py::arg("folder"),
          Doc("Writes the shot's KRV file as korva-cli shots --out does (FOLDER/NAME-shot001.KRV, "
              "atomically) and returns its path.")
              .c_str())
      .def("__repr__", &Repr);

  m.def("find_shots", &FindShotsIn, py::arg("recording"), py::arg("threshold") = 25.0,
        py::arg("min_peak") = 120.0, py::arg("pre") = 5.0, py::arg("post") = 250.0,
        py::arg("min_gap") = 40.0, py::kw_only(), py::arg("mic_location") = 1,
        Doc("The shots of a Recording (read_recording) or a Waveform, found as korva-cli shots "
            "finds them: a list of Shot in order of time.\n\n"
            "threshold: dB above the background (the running median of 10 ms RMS values over "
            "2 s) that a shot's start exceeds; min_peak: dB re 20 uPa it exceeds too. pre, "
            "post: the window from `pre` ms before the start to `post` ms after it, ending 1 ms "
            "before the next shot at the latest. min_gap: a crossing within `min_gap` ms of a "
            "shot's start is its echo unless it is louder. mic_location: of the shots' "
            "waveforms (1 free field, 2 ear-canal entrance, 3 eardrum). korva.Error for an "
            "option out of range; an empty list when nothing crosses.")
            .c_str());
  m.def("_analyze_input", &AnalyzeInput, py::arg("path"), py::arg("listener") = "both",
        py::arg("model") = py::none(), py::arg("stop") = nullptr, py::arg("shots") = false,
        py::arg("options") = py::dict(), py::arg("protectors") = std::vector<std::string>{},
        py::arg("table") = py::none(),
        Doc("The rows of analyze_files() for one input, as a list of dicts under the columns of "
            "_columns(): a KRV file as the window opens it, a recording (options: its channel, "
            "part and calibration) analysed whole, or with shots=True each of its shots; "
            "protectors (names as _protector_names() gives them) with their table. A "
            "failure is reported in 'error'; a stop request raises KeyboardInterrupt.")
            .c_str());
}

}  // namespace korva::python
