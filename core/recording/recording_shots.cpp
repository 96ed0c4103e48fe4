#include "core/recording/recording_shots.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"

namespace korva {
namespace {

// Progress in thousandths; reading a calibrator recording takes the first fifth.
constexpr long long kProgressTotal = 1000;
constexpr long long kCalibratorShare = 200;

}  // namespace

double ChannelEnvelope::SecondsAt(std::size_t k) const {
  const auto n = static_cast<std::int64_t>(size());
  const std::int64_t frame = n > 0 ? static_cast<std::int64_t>(k) * frames / n : 0;
  return static_cast<double>(first_frame + frame) / rate;
}

EnvelopeBuilder::EnvelopeBuilder(double rate, std::int64_t first_frame, std::int64_t frames,
                                 std::size_t stretches) {
  envelope_.rate = rate;
  envelope_.first_frame = first_frame;
  envelope_.frames = std::max<std::int64_t>(frames, 0);
  const auto n = static_cast<std::size_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(stretches), envelope_.frames));
  envelope_.low.assign(n, 0.0f);
  envelope_.high.assign(n, 0.0f);
  stretch_end_ = n > 0 ? envelope_.frames / static_cast<std::int64_t>(n) : 0;
}

void EnvelopeBuilder::Push(std::span<const float> samples) {
  const auto n = static_cast<std::int64_t>(envelope_.size());
  while (!samples.empty() && static_cast<std::int64_t>(stretch_) < n) {
    const auto take = static_cast<std::size_t>(std::min<std::int64_t>(
        stretch_end_ - position_, static_cast<std::int64_t>(samples.size())));
    if (take > 0) {
      const auto [low, high] = std::minmax_element(samples.begin(), samples.begin() + take);
      float& l = envelope_.low[stretch_];
      float& h = envelope_.high[stretch_];
      // A stretch's first samples set it; the following ones widen it.
      const bool first = position_ == static_cast<std::int64_t>(stretch_) * envelope_.frames / n;
      l = first ? *low : std::min(l, *low);
      h = first ? *high : std::max(h, *high);
      position_ += static_cast<std::int64_t>(take);
      samples = samples.subspan(take);
    }
    if (position_ == stretch_end_) {
      ++stretch_;
      stretch_end_ = static_cast<std::int64_t>(stretch_ + 1) * envelope_.frames / n;
    }
  }
}

RecordingShots FindRecordingShots(const std::filesystem::path& path, const ShotSearch& search,
                                  ProgressSink& progress, const ShotSink& sink) {
  const std::string name = path.string();
  CheckShotOptions(search.shots);
  if (search.mic_location < 1 || search.mic_location > 3) {
    throw Error("microphone location " + FormatInteger(search.mic_location) +
                " refused: it must be 1, 2 or 3");
  }
  RecordingReader reader(path, search.recording.source);
  const RecordingInfo& info = reader.Info();
  // The part and the rate are checked before a calibrator recording is read
  // for them.
  const FrameRange part = TimeRange(info, search.recording.from_s, search.recording.to_s);
  const double rate = info.RequireRate();
  const long long start = search.recording.calibration.calibrator ? kCalibratorShare : 0;
  StageProgress calibrating(progress, 0, start, kProgressTotal);
  const ChannelPlan plan = PlanChannel(reader, search.recording, calibrating);

  RecordingShots result;
  result.source = SourceOf(info, plan.channel, plan.calibration, search.mic_location);
  result.range = part;
  result.options = search.shots;
  EnvelopeBuilder envelope(rate, part.first, part.Count());
  const auto keep = [&](Shot&& shot) {
    if (sink) {
      sink(result.source, std::move(shot));
    } else {
      result.shots.push_back(std::move(shot));
    }
  };
  std::optional<ShotDetector> detector;
  try {
    detector.emplace(rate, search.shots, keep, plan.channel, part.first);
  } catch (const Error& e) {
    throw Error(WithFile(name, e.what()));  // a rate the detector cannot work at
  }
  // The reader refuses samples that are not finite numbers before the
  // detector sees them, naming the file and the frame.
  StageProgress reading(progress, start, kProgressTotal, kProgressTotal);
  reader.Read(
      plan.channel, plan.range, plan.calibration.pa_per_unit,
      [&](std::span<const float> samples, std::int64_t) {
        envelope.Push(samples);
        detector->Push(samples);
      },
      reading);
  result.summary = detector->Finish();
  result.envelope = envelope.Finish();
  return result;
}

}  // namespace korva
