// From a recording's units to pascals: a factor given directly, the
// microphone's sensitivity with the recorder's full scale, or a recording of
// a sound calibrator made through the same chain. The result carries the
// factor and a one-line text saying how it was obtained, which goes into the
// header of the waveform so that a file says where its pascals come from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/common/progress.h"
#include "core/recording/recording.h"

namespace korva {

// At most one of scale, sensitivity and calibrator.
struct CalibrationRequest {
  std::optional<double> scale;        // pascals per unit of the samples
  std::optional<double> sensitivity;  // the microphone's, in mV/Pa
  double full_scale = 1.0;            // volts at the recorder's full scale, with `sensitivity`
  std::optional<std::filesystem::path> calibrator;  // a recording of the calibrator's tone
  std::optional<double> calibrator_level;           // its level, dB re 20 uPa
  // Its channel; the channel being read when the calibrator recording has
  // that many, else 0.
  std::optional<int> calibrator_channel;
  // Its nominal frequency in Hz (1000 unless given: pistonphones run at 250).
  std::optional<double> calibrator_frequency;

  bool Any() const { return scale || sensitivity || calibrator; }
};

// What a calibrator recording's steady middle part holds.
struct CalibratorTone {
  double frequency = 0.0;  // Hz, from its upward zero crossings
  double rms = 0.0;        // about its mean, in the file's units
  double spread_db = 0.0;  // highest minus lowest level of its 100 ms pieces
};

struct Calibration {
  double pa_per_unit = 1.0;           // pascals per unit of the samples read
  std::string text = "uncalibrated";  // one line, no TAB, CR or LF
  std::optional<CalibratorTone> tone;
  bool calibrated = false;
};

// The part of a calibrator recording that is measured: its middle 60 %, away
// from the calibrator being fitted and removed.
FrameRange CalibratorPart(std::int64_t frames);

// Frequency, RMS and level spread of `channel` over CalibratorPart. FormatError
// naming the file when the part is shorter than 0.3 s or holds no tone.
CalibratorTone MeasureCalibratorTone(RecordingReader& reader, int channel, ProgressSink& progress);

// The calibration for samples whose full scale is `full_scale` units
// (RecordingInfo::FullScale(); 1 for values taken as they are) read from
// `channel`. A calibrator recording is read with `source` when it is a MAT
// file. Error naming the file for a request that cannot be met: a bad
// value, a calibrator tone outside 0.9 to 1.1 times its nominal frequency,
// or one whose 100 ms levels spread over more than 0.5 dB.
Calibration ResolveCalibration(const CalibrationRequest& request, double full_scale, int channel,
                               const SourceOptions& source, ProgressSink& progress);

// Calibrator tones and their tolerances.
inline constexpr double kCalibratorNominalHz = 1000.0;
inline constexpr double kCalibratorFrequencyTolerance = 0.1;  // relative
inline constexpr double kCalibratorMaxSpreadDb = 0.5;
inline constexpr double kCalibratorPieceSeconds = 0.1;
inline constexpr double kCalibratorMinSeconds = 0.3;  // of the measured part

}  // namespace korva
