#include "core/recording/request.h"

namespace korva {

ChannelPlan PlanChannel(const RecordingReader& reader, const RecordingRequest& request,
                        ProgressSink& progress) {
  const RecordingInfo& info = reader.Info();
  ChannelPlan plan;
  plan.channel = request.channel.value_or(0);
  RequireChannel(info, plan.channel);
  plan.range = TimeRange(info, request.from_s, request.to_s);
  info.RequireRate();
  plan.calibration = ResolveCalibration(request.calibration, info.FullScale(), plan.channel,
                                        request.source, progress);
  return plan;
}

}  // namespace korva
