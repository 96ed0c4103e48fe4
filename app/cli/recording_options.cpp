#include "app/cli/recording_options.h"

#include <limits>

#include "core/common/numbers.h"

namespace korva::cli {

const char* const kRecordingOptionsHelp =
    "Recordings (sound files: WAV, RF64, W64, FLAC, AIFF, CAF...; MATLAB v5, v7.3):\n"
    "  --channel K          the channel to read (0 is the first)\n"
    "  --from S, --to S     the part from S to S seconds into the recording\n"
    "Calibration to pascals (without one, values are taken as they are: uncalibrated):\n"
    "  --scale PA           pascals per unit of the samples\n"
    "  --sensitivity MV_PER_PA [--full-scale VOLTS]\n"
    "                       the microphone's sensitivity in mV/Pa; float samples are\n"
    "                       fractions of full scale, integers are first scaled to [-1, 1);\n"
    "                       full scale is VOLTS (default 1)\n"
    "  --calibrator CAL --calibrator-level DB\n"
    "                       CAL records a sound calibrator through the same channel and\n"
    "                       gain: the RMS of its middle 60 % is DB re 20 uPa; its tone must\n"
    "                       lie within 900-1100 Hz and its 100 ms levels within 0.5 dB\n"
    "  --calibrator-channel K  CAL's channel (default: the one read, or 0)\n"
    "  --calibrator-frequency HZ  the calibrator's frequency when not 1 kHz (+-10 %)\n"
    "MATLAB files (a numeric vector, or a matrix whose columns or rows are channels):\n"
    "  --variable NAME      the variable holding the samples (needed when several could)\n"
    "  --rate R             samples per second, at least 1 (replaces a sound file's rate)\n"
    "  --rate-variable NAME a numeric scalar variable holding the rate\n";

std::set<std::string> WithRecordingOptions(std::set<std::string> options) {
  options.insert({"--channel", "--from", "--to", "--scale", "--sensitivity", "--full-scale",
                  "--calibrator", "--calibrator-level", "--calibrator-channel",
                  "--calibrator-frequency", "--variable", "--rate", "--rate-variable"});
  return options;
}

namespace {

std::optional<double> AtLeast(const Args& args, const std::string& option, double lowest,
                              bool inclusive) {
  const auto value = args.Number(option);
  if (value && (inclusive ? *value < lowest : *value <= lowest)) {
    throw UsageError(option + " takes a number " + (inclusive ? "of at least " : "above ") +
                     FormatShortest(lowest) + ", not " + FormatShortest(*value));
  }
  return value;
}

std::optional<int> ChannelNumber(const Args& args, const std::string& option) {
  const auto value = args.Integer(option);
  if (!value) return std::nullopt;
  if (*value < 0 || *value > std::numeric_limits<int>::max()) {
    throw UsageError(option + " takes a channel number from 0, not " + FormatInteger(*value));
  }
  return static_cast<int>(*value);
}

}  // namespace

RecordingRequest ParseRecordingOptions(const Args& args, RateOption rate) {
  RecordingRequest o;
  o.channel = ChannelNumber(args, "--channel");
  o.from_s = AtLeast(args, "--from", 0.0, true);
  o.to_s = AtLeast(args, "--to", 0.0, false);
  if (o.from_s && o.to_s && *o.to_s <= *o.from_s) {
    throw UsageError("--to must lie after --from");
  }

  CalibrationRequest& c = o.calibration;
  c.scale = args.Number("--scale");
  if (c.scale && *c.scale == 0.0) throw UsageError("--scale takes a factor other than 0");
  c.sensitivity = AtLeast(args, "--sensitivity", 0.0, false);
  if (const auto volts = AtLeast(args, "--full-scale", 0.0, false)) {
    if (!c.sensitivity) throw UsageError("--full-scale goes with --sensitivity");
    c.full_scale = *volts;
  }
  if (const auto calibrator = args.Value("--calibrator")) c.calibrator = *calibrator;
  c.calibrator_level = args.Number("--calibrator-level");
  c.calibrator_channel = ChannelNumber(args, "--calibrator-channel");
  c.calibrator_frequency = AtLeast(args, "--calibrator-frequency", 0.0, false);
  if (int{c.scale.has_value()} + int{c.sensitivity.has_value()} + int{c.calibrator.has_value()} >
      1) {
    throw UsageError("--scale, --sensitivity and --calibrator exclude each other");
  }
  if (c.calibrator && !c.calibrator_level) {
    throw UsageError("--calibrator needs --calibrator-level DB");
  }
  if (!c.calibrator && (c.calibrator_level || c.calibrator_channel || c.calibrator_frequency)) {
    throw UsageError(
        "--calibrator-level, --calibrator-channel and --calibrator-frequency go with "
        "--calibrator");
  }

  o.source.variable = args.Value("--variable");
  o.source.rate_variable = args.Value("--rate-variable");
  if (args.Has("--rate") && o.source.rate_variable) {
    throw UsageError("--rate and --rate-variable exclude each other");
  }
  if (rate == RateOption::kStrict) {
    o.source.rate = AtLeast(args, "--rate", 1.0, true);
  } else if (const auto text = args.Value("--rate")) {
    // The header's rule refuses anything else later, naming the file.
    const auto value = ParseWholeNumber(*text);
    if (value && *value >= 1.0) o.source.rate = value;
  }
  return o;
}

}  // namespace korva::cli
