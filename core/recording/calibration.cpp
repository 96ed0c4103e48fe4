#include "core/recording/calibration.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "core/common/error.h"
#include "core/common/numbers.h"

namespace korva {
namespace {

// Sound pressure levels are re 20 uPa.
constexpr double kReferencePascals = 20.0e-6;

// Five significant digits, in the C locale whatever the user's.
std::string Compact(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 5);
  return std::string(text, end.ptr);
}

// A file name fit for a header cell: no TAB, CR or LF.
std::string CellText(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return text;
}

void RequirePositive(const std::optional<double>& value, const char* what) {
  if (value && !(std::isfinite(*value) && *value > 0.0)) {
    throw Error(std::string(what) + " must be a positive number, not " + FormatShortest(*value));
  }
}

void CheckRequest(const CalibrationRequest& r) {
  const int given =
      int{r.scale.has_value()} + int{r.sensitivity.has_value()} + int{r.calibrator.has_value()};
  if (given > 1) {
    throw Error("give one calibration: a scale, a sensitivity or a calibrator recording");
  }
  if (r.scale && !(std::isfinite(*r.scale) && *r.scale != 0.0)) {
    throw Error("the scale must be a finite number other than 0, not " + FormatShortest(*r.scale));
  }
  RequirePositive(r.sensitivity, "the sensitivity");
  RequirePositive(r.full_scale, "the full scale");
  RequirePositive(r.calibrator_frequency, "the calibrator's frequency");
  if (r.calibrator && !r.calibrator_level) {
    throw Error("a calibrator recording needs the calibrator's level in dB");
  }
  if (r.calibrator_level && !std::isfinite(*r.calibrator_level)) {
    throw Error("the calibrator's level must be a number of dB");
  }
  if (r.calibrator_channel && *r.calibrator_channel < 0) {
    throw Error("the calibrator's channel must be 0 or more");
  }
}

// Mean and RMS about it, accumulated about the first sample so that a large
// offset costs no precision.
struct Moments {
  double shift = 0.0;
  double sum = 0.0;
  double squares = 0.0;
  std::int64_t count = 0;

  void Add(double x) {
    if (count == 0) shift = x;
    const double d = x - shift;
    sum += d;
    squares += d * d;
    ++count;
  }
  double Mean() const { return count > 0 ? shift + sum / count : 0.0; }
  double Rms() const {
    if (count == 0) return 0.0;
    const double m = sum / count;
    return std::sqrt(std::max(squares / count - m * m, 0.0));
  }
};

}  // namespace

FrameRange CalibratorPart(std::int64_t frames) {
  return {frames / 5, frames - frames / 5};
}

CalibratorTone MeasureCalibratorTone(RecordingReader& reader, int channel, ProgressSink& progress) {
  const RecordingInfo& info = reader.Info();
  const std::string name = info.path.string();
  const double rate = info.RequireRate();
  const FrameRange part = CalibratorPart(info.frames);
  if (part.Count() < kCalibratorMinSeconds * rate) {
    throw FormatError(WithFile(name,
                               "too short for a calibrator recording: its middle part (60 %) "
                               "must last at least " +
                                   FormatFixed(kCalibratorMinSeconds, 1) + " s"));
  }
  // First pass: the mean and RMS of the whole part.
  Moments whole;
  StageProgress first_pass(progress, 0, 500, 1000);
  reader.Read(
      channel, part, 1.0,
      [&](std::span<const float> block, std::int64_t) {
        for (const float x : block) whole.Add(x);
      },
      first_pass);
  const double mean = whole.Mean();
  const double rms = whole.Rms();

  // Second pass: the RMS of each 100 ms piece, and the upward crossings of
  // the mean with a hysteresis of half the RMS, so that noise near zero
  // cannot count twice.
  const auto piece = std::max<std::int64_t>(std::llround(kCalibratorPieceSeconds * rate), 1);
  const double hysteresis = 0.5 * rms;
  Moments current;
  double loudest = 0.0;
  double quietest = std::numeric_limits<double>::infinity();
  bool armed = false;
  double previous = 0.0;
  double first_crossing = 0.0;
  double last_crossing = 0.0;
  std::int64_t crossings = 0;
  StageProgress second_pass(progress, 500, 1000, 1000);
  reader.Read(
      channel, part, 1.0,
      [&](std::span<const float> block, std::int64_t first) {
        for (std::size_t i = 0; i < block.size(); ++i) {
          const double y = block[i] - mean;
          const auto frame = first + static_cast<std::int64_t>(i);
          if (y < -hysteresis) {
            armed = true;
          } else if (armed && y >= 0.0) {
            // Where the line between the two samples meets the mean.
            const double at = static_cast<double>(frame) - y / (y - previous);
            if (crossings == 0) first_crossing = at;
            last_crossing = at;
            ++crossings;
            armed = false;
          }
          previous = y;
          current.Add(y);
          if (current.count == piece) {
            loudest = std::max(loudest, current.Rms());
            quietest = std::min(quietest, current.Rms());
            current = Moments{};
          }
        }
      },
      second_pass);

  if (!(rms > 0.0) || crossings < 2 || !(quietest > 0.0)) {
    throw FormatError(WithFile(
        name, "holds no tone in its middle part (channel " + FormatInteger(channel) + ")"));
  }
  CalibratorTone tone;
  tone.frequency = static_cast<double>(crossings - 1) * rate / (last_crossing - first_crossing);
  tone.rms = rms;
  tone.spread_db = 20.0 * std::log10(loudest / quietest);
  return tone;
}

Calibration ResolveCalibration(const CalibrationRequest& request, double full_scale, int channel,
                               const SourceOptions& source, ProgressSink& progress) {
  CheckRequest(request);
  Calibration result;
  if (!request.Any()) return result;
  result.calibrated = true;
  if (request.scale) {
    result.pa_per_unit = *request.scale;
    result.text = "calibrated by a scale of " + FormatShortest(*request.scale) + " Pa per unit";
    return result;
  }
  if (request.sensitivity) {
    // Full scale stands for `full_scale` volts; the microphone gives
    // `sensitivity` millivolts per pascal.
    result.pa_per_unit = request.full_scale / full_scale / (*request.sensitivity / 1000.0);
    result.text = "calibrated by a sensitivity of " + FormatShortest(*request.sensitivity) +
                  " mV/Pa with " + FormatShortest(request.full_scale) +
                  " V at full scale: " + Compact(result.pa_per_unit) + " Pa per unit";
    return result;
  }

  const std::filesystem::path& path = *request.calibrator;
  const std::string name = path.string();
  RecordingReader reader(path, source);
  const RecordingInfo& info = reader.Info();
  const int cal_channel =
      request.calibrator_channel.value_or(channel < info.channels ? channel : 0);
  const CalibratorTone tone = MeasureCalibratorTone(reader, cal_channel, progress);

  const double nominal = request.calibrator_frequency.value_or(kCalibratorNominalHz);
  const double low = nominal * (1.0 - kCalibratorFrequencyTolerance);
  const double high = nominal * (1.0 + kCalibratorFrequencyTolerance);
  if (tone.frequency < low || tone.frequency > high) {
    throw Error(WithFile(
        name,
        "its tone is at " + FormatFixed(tone.frequency, 1) + " Hz, outside " + FormatFixed(low, 0) +
            " to " + FormatFixed(high, 0) + " Hz" +
            (request.calibrator_frequency ? std::string()
                                          : std::string(" (name the calibrator's frequency when it "
                                                        "is not a 1 kHz calibrator)"))));
  }
  if (tone.spread_db > kCalibratorMaxSpreadDb) {
    throw Error(WithFile(name, "not a steady calibrator tone: its 100 ms levels spread over " +
                                   FormatFixed(tone.spread_db, 2) + " dB (at most " +
                                   FormatFixed(kCalibratorMaxSpreadDb, 1) + " dB)"));
  }
  // The calibrator's pascals per unit of full scale, carried over to the
  // units of the recording (a 16-bit calibrator file for a 24-bit recording).
  const double pascals = kReferencePascals * std::pow(10.0, *request.calibrator_level / 20.0);
  const double pa_per_full_scale = pascals / (tone.rms / info.FullScale());
  result.pa_per_unit = pa_per_full_scale / full_scale;
  result.tone = tone;
  result.text = "calibrated by calibrator " + CellText(path.filename().string()) + " (channel " +
                FormatInteger(cal_channel) + "): " + FormatFixed(*request.calibrator_level, 1) +
                " dB at " + FormatFixed(tone.frequency, 1) + " Hz, steady within " +
                FormatFixed(tone.spread_db, 2) + " dB: " + Compact(result.pa_per_unit) +
                " Pa per unit";
  return result;
}

}  // namespace korva
