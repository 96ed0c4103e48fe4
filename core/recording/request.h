// What a caller asks of a recording, the same wherever one is read (import,
// shot finding, Python, the window's dialog): a channel, a part, a
// calibration and what a MATLAB file needs said; and that request checked
// against the open file before a sample is read.
#pragma once

#include <optional>

#include "core/common/progress.h"
#include "core/recording/calibration.h"
#include "core/recording/recording.h"

namespace korva {

struct RecordingRequest {
  std::optional<int> channel;    // from 0; the first when not given
  std::optional<double> from_s;  // the part, in seconds from the start
  std::optional<double> to_s;
  CalibrationRequest calibration;
  SourceOptions source;  // also for a MATLAB calibrator file
};

struct ChannelPlan {
  int channel = 0;
  FrameRange range;
  Calibration calibration;
};

// The channel, part and calibration of `request` for the recording `reader`
// has open: the channel and part checked, the rate known, the calibrator
// recording (if any) measured. Errors name the file; then
// reader.Read(plan.channel, plan.range, plan.calibration.pa_per_unit, ...)
// gives pascals.
ChannelPlan PlanChannel(const RecordingReader& reader, const RecordingRequest& request,
                        ProgressSink& progress);

}  // namespace korva
