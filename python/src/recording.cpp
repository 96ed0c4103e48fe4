#include "python/src/recording.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "core/common/numbers.h"
#include "core/recording/calibration.h"
#include "core/recording/recording.h"
#include "core/recording/recording_import.h"
#include "core/recording/request.h"
#include "python/src/doc.h"
#include "python/src/interrupt.h"
#include "python/src/waveform.h"

namespace korva::python {
namespace {

namespace py = pybind11;
namespace fs = std::filesystem;

struct Recording {
  RecordingInfo info;
  int channel = 0;
  FrameRange range;
  Calibration calibration;
  std::vector<float> samples;
};

std::optional<double> Known(double value) {
  return value > 0.0 ? std::optional<double>(value) : std::nullopt;
}

RecordingInfo Info(const fs::path& path, std::optional<std::string> variable,
                   std::optional<double> rate, std::optional<std::string> rate_variable) {
  Interruption stop;
  return Released(stop, [&] {
    return RecordingReader(path, {std::move(variable), rate, std::move(rate_variable)}).Info();
  });
}

std::shared_ptr<Recording> Read(const fs::path& path, int channel, std::optional<double> scale,
                                std::optional<double> sensitivity, double full_scale,
                                std::optional<fs::path> calibrator,
                                std::optional<double> calibrator_level,
                                std::optional<std::string> variable, std::optional<double> rate,
                                std::optional<double> start, std::optional<double> stop,
                                std::optional<std::string> rate_variable,
                                std::optional<int> calibrator_channel,
                                std::optional<double> calibrator_frequency) {
  RecordingRequest request;
  request.channel = channel;
  request.from_s = start;
  request.to_s = stop;
  request.calibration = {scale,
                         sensitivity,
                         full_scale,
                         std::move(calibrator),
                         calibrator_level,
                         calibrator_channel,
                         calibrator_frequency};
  request.source = {std::move(variable), rate, std::move(rate_variable)};
  Interruption interruption;
  return Released(interruption, [&] {
    InterruptibleProgress progress(interruption);
    RecordingReader reader(path, request.source);
    const ChannelPlan plan = PlanChannel(reader, request, progress);
    auto r = std::make_shared<Recording>();
    r->info = reader.Info();
    r->channel = plan.channel;
    r->range = plan.range;
    r->calibration = plan.calibration;
    r->samples = reader.ReadAll(plan.channel, plan.range, plan.calibration.pa_per_unit, progress);
    return r;
  });
}

// The waveform korva-cli import writes for the same recording and options.
std::shared_ptr<Waveform> ToWaveform(const Recording& r, int mic_location,
                                     std::optional<std::string> title) {
  if (r.samples.size() < 2) throw py::value_error("a waveform needs at least two samples");
  if (mic_location < 1 || mic_location > 4) {
    throw py::value_error(
        "mic_location must be 1 (free field), 2 (ear-canal entrance), 3 (eardrum) or 4 "
        "(analysed as free field)");
  }
  if (title && title->find_first_of("\t\r\n") != std::string::npos) {
    throw py::value_error("the title cannot hold TAB, CR or LF (a KRV header line holds it)");
  }
  auto w = std::make_shared<Waveform>();
  w->samples = r.samples;
  w->SampleRate = static_cast<float>(r.info.rate);
  w->SampleInterval = 1.0f / w->SampleRate;
  w->MicLocation = mic_location;
  w->Grid.SetImportTemplate();
  if (title) w->Grid.Cell(2, 1) = *title;
  w->WaveformTitle = w->Grid.Cell(2, 1);
  const double rate = w->SampleRate;
  w->Grid.Cell(1, 2) = rate == std::nearbyint(rate) ? FormatFixed(rate, 0) : FormatShortest(rate);
  w->Grid.Cell(2, 2) = RecordingComment(r.info, r.channel, r.range, r.calibration);
  w->Grid.Cell(1, 3) = FormatInteger(mic_location);
  w->Grid.Cell(1, 4) = FormatInteger(static_cast<long long>(r.samples.size()));
  const auto [low, high] = std::minmax_element(r.samples.begin(), r.samples.end());
  w->MinPressure = *low;
  w->PeakPressure = *high;
  return w;
}

py::array Samples(const py::object& self) {
  const auto& r = self.cast<const Recording&>();
  py::array_t<float> view(static_cast<py::ssize_t>(r.samples.size()), r.samples.data(), self);
  view.attr("setflags")(py::arg("write") = false);
  return view;
}

std::string Repr(const RecordingInfo& info) {
  return "<korva.RecordingInfo " + info.path.filename().string() + ": " + info.Description() +
         ", " + FormatInteger(info.frames) + " frames" +
         (info.rate > 0.0 ? " at " + FormatShortest(info.rate) + "/s" : std::string()) + ">";
}

}  // namespace

void DefineRecording(py::module_& m) {
  py::class_<RecordingInfo>(
      m, "RecordingInfo",
      Doc("What a recording's header says, read without its samples (recording_info).").c_str())
      .def_property_readonly(
          "path", [](const RecordingInfo& i) { return i.path; }, "The file.")
      .def_property_readonly(
          "format", [](const RecordingInfo& i) { return i.format; },
          "The file's format: \"WAV\", \"FLAC\", \"MAT v7.3\", ...")
      .def_property_readonly(
          "encoding", [](const RecordingInfo& i) { return i.encoding; },
          "How samples are stored: \"24-bit integer\", \"32-bit float\", \"int16\", \"double\".")
      .def_property_readonly(
          "integer", [](const RecordingInfo& i) { return i.integer; },
          Doc("Whether samples are integers, read as their integer values (full scale "
              "2^(bits-1)); floating-point samples are fractions of full scale.")
              .c_str())
      .def_property_readonly(
          "bits", [](const RecordingInfo& i) { return i.bits; }, "Bits per sample.")
      .def_property_readonly(
          "channels", [](const RecordingInfo& i) { return i.channels; }, "Number of channels.")
      .def_property_readonly(
          "frames", [](const RecordingInfo& i) { return i.frames; },
          "Samples per channel in the whole file.")
      .def_property_readonly(
          "rate", [](const RecordingInfo& i) { return Known(i.rate); },
          Doc("Samples per second; None for a MAT file whose rate was not given.").c_str())
      .def_property_readonly(
          "duration", [](const RecordingInfo& i) { return Known(i.Seconds()); },
          "Seconds; None when the rate is unknown.")
      .def_property_readonly(
          "variable",
          [](const RecordingInfo& i) {
            return i.variable.empty() ? std::nullopt : std::optional<std::string>(i.variable);
          },
          "The MAT file's variable holding the samples; None for sound files.")
      .def("__repr__", &Repr);

  py::class_<Recording, std::shared_ptr<Recording>>(
      m, "Recording",
      Doc("One channel of a field recording, or a part of it, in pascals (read_recording).")
          .c_str())
      .def_property_readonly(
          "info", [](const Recording& r) { return r.info; },
          "The file's RecordingInfo (format, channels, frames of the whole file).")
      .def_property_readonly(
          "rate", [](const Recording& r) { return r.info.rate; }, "Samples per second.")
      .def_property_readonly(
          "channels", [](const Recording& r) { return r.info.channels; },
          "Number of channels in the file.")
      .def_property_readonly(
          "frames", [](const Recording& r) { return r.info.frames; },
          "Samples per channel in the whole file (len() gives those read).")
      .def_property_readonly(
          "channel", [](const Recording& r) { return r.channel; }, "The channel read (from 0).")
      .def_property_readonly(
          "start_frame", [](const Recording& r) { return r.range.first; },
          "The frame of the file that samples[0] is.")
      .def_property_readonly(
          "calibration", [](const Recording& r) { return r.calibration.text; },
          Doc("How the pascals were obtained, as the header of a KRV file made from it says: "
              "\"uncalibrated\", or the scale, sensitivity or calibrator with its measured tone.")
              .c_str())
      .def_property_readonly(
          "pa_per_unit", [](const Recording& r) { return r.calibration.pa_per_unit; },
          "Pascals per unit of the file's samples.")
      .def_property_readonly(
          "samples", &Samples,
          Doc("The samples in pascals: a read-only 1-D float32 array over the recording's own "
              "memory.")
              .c_str())
      .def("to_waveform", &ToWaveform, py::arg("mic_location") = 1, py::arg("title") = py::none(),
           Doc("The samples as a Waveform with the header korva-cli import writes (format, "
               "channel, part and calibration beside the rate; the title NEW SOURCE unless "
               "given), to analyse or write_krv. ValueError for a bad mic_location or title.")
               .c_str())
      .def(
          "__len__", [](const Recording& r) { return r.samples.size(); },
          "The number of samples read.")
      .def("__repr__", [](const Recording& r) {
        return "<korva.Recording " + r.info.path.filename().string() + " channel " +
               FormatInteger(r.channel) + ": " + FormatInteger(r.range.Count()) + " samples at " +
               FormatShortest(r.info.rate) + "/s, " + r.calibration.text + ">";
      });

  m.def("recording_info", &Info, py::arg("path"), py::kw_only(), py::arg("variable") = py::none(),
        py::arg("rate") = py::none(), py::arg("rate_variable") = py::none(),
        Doc("What a recording holds, from its header alone: format, encoding, channels, rate "
            "and frames (a RecordingInfo). Sound files (WAV, RF64, W64, FLAC, AIFF, CAF, ...) "
            "and MATLAB files (v5, v7.3; `variable` names the samples when several numeric "
            "variables could hold them, `rate` or `rate_variable` gives their rate). FormatError "
            "for a file that is neither, or is damaged.")
            .c_str());
  m.def("read_recording", &Read, py::arg("path"), py::arg("channel") = 0,
        py::arg("scale") = py::none(), py::arg("sensitivity") = py::none(),
        py::arg("full_scale") = 1.0, py::arg("calibrator") = py::none(),
        py::arg("calibrator_level") = py::none(), py::arg("variable") = py::none(),
        py::arg("rate") = py::none(), py::arg("start") = py::none(), py::arg("stop") = py::none(),
        py::kw_only(), py::arg("rate_variable") = py::none(),
        py::arg("calibrator_channel") = py::none(), py::arg("calibrator_frequency") = py::none(),
        Doc("Reads one channel of a field recording (sound or MATLAB file), or the part from "
            "`start` to `stop` seconds, in pascals, block by block: a Recording.\n\n"
            "Calibration, at most one (without one the samples are taken as they are, integers "
            "as their integer values: \"uncalibrated\"):\n"
            "  scale=PA        pascals per unit\n"
            "  sensitivity=MV_PER_PA, full_scale=VOLTS   the microphone's mV/Pa; float samples "
            "are fractions of full scale, integers are scaled to [-1, 1) first; full scale is "
            "VOLTS (1 V)\n"
            "  calibrator=CAL, calibrator_level=DB   CAL records a sound calibrator through the "
            "same channel and gain; the RMS of its middle 60 % is DB re 20 uPa. Its tone must lie "
            "within 10 % of 1 kHz (of calibrator_frequency when given: 250 for a pistonphone) "
            "and its 100 ms levels within 0.5 dB; calibrator_channel is its channel (default: "
            "`channel`, or 0).\n"
            "MATLAB files: `variable` names the samples (a vector, or a matrix whose columns, "
            "or rows when it is wider than tall, are channels), `rate` or `rate_variable` (a "
            "numeric scalar variable) their rate; for a sound file `rate` replaces its own.\n"
            "korva.Error naming the file for a channel, part or calibration that cannot be; "
            "FormatError for a damaged file, a missing variable or a sample that is not finite. "
            "Ctrl-C stops it.")
            .c_str());
}

}  // namespace korva::python
