#include "python/src/waveform.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/recording/recording_import.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/header_cells.h"
#include "core/waveform/import.h"
#include "core/waveform/import_answers.h"
#include "core/waveform/krv.h"
#include "python/src/doc.h"
#include "python/src/interrupt.h"

namespace korva::python {
namespace {

namespace py = pybind11;
namespace fs = std::filesystem;

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// How import_recording's keyword arguments are named in the importer's messages.
const AnswerNames kKeywordNames{"keyword",
                                "column=N",
                                "wrapped=True",
                                "byte_order=\"little\"",
                                "byte_order=\"big\"",
                                "channels=N (and channel=K)",
                                "channel=K"};

std::shared_ptr<Waveform> FromArray(const FloatArray& samples, double rate, int mic_location,
                                    const std::string& title) {
  if (samples.ndim() != 1) throw py::value_error("samples must be a 1-D array");
  if (samples.size() < 2) throw py::value_error("a waveform needs at least two samples");
  if (samples.size() > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error("too many samples for a waveform");
  }
  if (!(rate >= 1.0) || rate > std::numeric_limits<float>::max()) {
    throw py::value_error("rate must be a number of samples per second of at least 1");
  }
  if (mic_location < 1 || mic_location > 4) {
    throw py::value_error(
        "mic_location must be 1 (free field), 2 (ear-canal entrance), 3 (eardrum) or 4 "
        "(analysed as free field)");
  }
  if (title.find_first_of("\t\r\n") != std::string::npos) {
    throw py::value_error("the title cannot hold TAB, CR or LF (a KRV header line holds it)");
  }
  auto w = std::make_shared<Waveform>();
  w->samples.assign(samples.data(), samples.data() + samples.size());
  for (std::size_t i = 0; i < w->samples.size(); ++i) {
    if (!std::isfinite(w->samples[i])) {
      throw py::value_error("sample " + std::to_string(i) + " is not a finite number");
    }
  }
  w->SampleRate = static_cast<float>(rate);
  w->SampleInterval = static_cast<float>(1.0 / static_cast<double>(w->SampleRate));
  w->MicLocation = mic_location;
  w->WaveformTitle = title;
  w->PeakPressure = w->MinPressure = w->samples.front();
  for (const float p : w->samples) {
    w->PeakPressure = std::max(w->PeakPressure, p);
    w->MinPressure = std::min(w->MinPressure, p);
  }
  // The header a file written from it gets: the import template with these values.
  w->Grid = GridOf(w->View());
  return w;
}

// A read-only array over the samples, keeping the waveform alive.
py::array SamplesView(const py::object& self) {
  const auto& w = self.cast<const Waveform&>();
  py::array_t<float> view(static_cast<py::ssize_t>(w.samples.size()), w.samples.data(), self);
  view.attr("setflags")(py::arg("write") = false);
  return view;
}

std::shared_ptr<Waveform> ReadKrv(const fs::path& path) {
  Interruption stop;
  return Released(stop, [&] {
    InterruptibleProgress progress(stop);
    return std::make_shared<Waveform>(ReadWaveform(path, progress));
  });
}

fs::path WriteKrv(const fs::path& path, const Waveform& waveform) {
  Interruption stop;
  return Released(stop, [&] {
    Session session = SessionOf(waveform);
    return SaveKrvAs(session, path);
  });
}

std::shared_ptr<Waveform> ImportRecording(const fs::path& path, std::optional<long long> column,
                                          bool wrapped, std::optional<std::string> byte_order,
                                          std::optional<long long> channels,
                                          std::optional<long long> channel,
                                          std::optional<double> rate,
                                          std::optional<int> mic_location,
                                          std::optional<std::string> title) {
  ImportAnswers answers;
  answers.column = column;
  answers.wrapped = wrapped;
  answers.channels = channels;
  answers.channel = channel;
  if (column && wrapped) throw py::value_error("column and wrapped exclude each other");
  if (byte_order) {
    if (*byte_order != "little" && *byte_order != "big") {
      throw py::value_error("byte_order takes \"little\" or \"big\", not \"" + *byte_order + "\"");
    }
    answers.little_endian = *byte_order == "little";
  }
  HeaderEntries entries;
  entries.title = title;
  if (rate) {
    if (!std::isfinite(*rate)) throw py::value_error("rate must be a finite number");
    entries.rate = RateCellText(*rate);
  }
  if (mic_location) entries.location = FormatInteger(*mic_location);

  Interruption stop;
  return Released(stop, [&] {
    std::string last_notice;
    AnsweringPrompter prompter(answers, kKeywordNames,
                               [&](const std::string& text) { last_notice = text; });
    InterruptibleProgress progress(stop);
    Session session;
    const ImportOutcome outcome =
        ImportRecordingFile(session, path, {}, prompter, progress).outcome;
    if (outcome == ImportOutcome::kDescribedOnly) {
      throw FormatError(WithFile(path.string(), last_notice));
    }
    if (outcome != ImportOutcome::kImported)
      throw Error(WithFile(path.string(), "nothing imported"));
    ApplyHeaderEntries(session, entries);
    return std::make_shared<Waveform>(WaveformOf(session));
  });
}

}  // namespace

void DefineWaveform(py::module_& m) {
  py::class_<Waveform, std::shared_ptr<Waveform>>(
      m, "Waveform",
      Doc("A pressure waveform: samples in pascals at a fixed rate, with the header of its KRV "
          "file (title, rate, microphone location).\n\n"
          "Made by read_krv (as the window's Open makes it), import_recording, "
          "Waveform.from_array or protect; it does not change once made.")
          .c_str())
      .def_static("from_array", &FromArray, py::arg("samples"), py::arg("rate"),
                  py::arg("mic_location") = 1, py::arg("title") = "",
                  Doc("A waveform of the given samples (pascals; any 1-D array of numbers, taken "
                      "as float32) at `rate` samples per second, recorded at `mic_location` (1 "
                      "free field, 2 ear-canal entrance, 3 eardrum, 4 analysed as free field).\n\n"
                      "The samples are kept as given: no dither and no padding to a power of "
                      "two, which are rules of opening a file. At least two finite samples; the "
                      "title cannot hold TAB, CR or LF. ValueError otherwise.")
                      .c_str())
      .def_property_readonly("samples", &SamplesView,
                             Doc("The samples in pascals: a read-only 1-D float32 array over the "
                                 "waveform's own memory (copy it to change it).")
                                 .c_str())
      .def_property_readonly(
          "rate", [](const Waveform& w) { return w.SampleRate; },
          Doc("Samples per second (header row 2), as a single-precision number.").c_str())
      .def_property_readonly(
          "mic_location", [](const Waveform& w) { return w.MicLocation; },
          Doc("Where the waveform was recorded (header row 3): 1 free field, 2 ear-canal "
              "entrance, 3 eardrum, 4 analysed as free field.")
              .c_str())
      .def_property_readonly(
          "title", [](const Waveform& w) { return w.WaveformTitle; },
          "The title of the waveform (header row 1).")
      .def(
          "__len__", [](const Waveform& w) { return w.samples.size(); }, "The number of samples.")
      .def("__repr__", [](const Waveform& w) {
        return "<korva.Waveform " + FormatInteger(static_cast<long long>(w.samples.size())) +
               " samples at " + RateCellText(w.SampleRate) + "/s, mic_location " +
               FormatInteger(w.MicLocation) + ", title " +
               py::repr(py::str(w.WaveformTitle)).cast<std::string>() + ">";
      });

  m.def("read_krv", &ReadKrv, py::arg("path"),
        Doc("Reads a KRV file as the window's Open does and returns its Waveform.\n\n"
            "The file read is NAME.KRV in the folder of `path`, NAME being its name up to "
            "the first '.' in upper case, found whatever the case on disk. The samples get "
            "Open's small Gaussian dither (the same on every read) and their count is "
            "rounded to a power of two. IoError when the file cannot be read, FormatError "
            "when it is no waveform, RangeError when it is too long.")
            .c_str());
  m.def("write_krv", &WriteKrv, py::arg("path"), py::arg("waveform"),
        Doc("Writes the waveform as a KRV file as the window's Save As does and returns the "
            "path written: `path` up to the first '.' of its name plus '.KRV'.\n\n"
            "The header rows in use are written, then the samples, padded with zeros to a "
            "power of two. The file is written to a temporary file and renamed over the "
            "target once complete, so a failure leaves any previous file intact. RangeError "
            "for more than 1,048,576 samples.")
            .c_str());
  m.def("import_recording", &ImportRecording, py::arg("path"), py::kw_only(),
        py::arg("column") = py::none(), py::arg("wrapped") = false,
        py::arg("byte_order") = py::none(), py::arg("channels") = py::none(),
        py::arg("channel") = py::none(), py::arg("rate") = py::none(),
        py::arg("mic_location") = py::none(), py::arg("title") = py::none(),
        Doc("Imports a foreign recording as the window's Import does (and korva-cli import): "
            "a WAV file (PCM of 8 to 32 bits, IEEE float, mono or stereo), columns of numbers "
            "in text, raw single-precision numbers or 16-bit binary integers. The samples are "
            "taken as they are (no dither, no padding; calibrate them to pascals yourself).\n\n"
            "Questions the file raises are answered by keywords; a question without its "
            "answer is a korva.Error naming the keyword:\n"
            "  column=N       text with several numbers per line: keep column N (from 1)\n"
            "  wrapped=True   text: read every number in file order\n"
            "  byte_order=\"little\" or \"big\"   16-bit binary integers: standard or "
            "byte-reversed\n"
            "  channels=N, channel=K   text files over 64 MiB: N multiplexed channels, keep K\n"
            "Header values, checked as the window's grid checks them (korva.Error when "
            "refused):\n"
            "  rate=R         samples per second, at least 1\n"
            "  mic_location=M 1 free field, 2 ear-canal entrance, 3 eardrum\n"
            "  title=TEXT\n"
            "FormatError for a WAV file whose samples cannot be decoded (A-law, mu-law).")
            .c_str());
}

}  // namespace korva::python
