#include "core/recording/recording.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/recording/recording_source.h"

namespace korva {
namespace {

std::string Seconds(double s) {
  return FormatFixed(s, 3) + " s";
}

// The source behind `path`, or nothing when neither library knows the file.
std::unique_ptr<RecordingSource> OpenSource(const std::filesystem::path& path,
                                            const SourceOptions& options, RecordingInfo& info) {
  info = RecordingInfo{};
  info.path = path;
  const std::string name = path.string();
  if (options.rate && !(*options.rate >= 1.0 && std::isfinite(*options.rate))) {
    throw Error(WithFile(name, "the sample rate must be a number of at least 1 per second, not " +
                                   FormatShortest(*options.rate)));
  }
  // The first bytes say what the file claims to be.
  const std::string magic = ReadFileStart(path, 16);
  std::unique_ptr<RecordingSource> source;
  if (StartsAsMatFile(magic)) {
    source = OpenMatFile(path, options, info);
  } else {
    source = OpenSoundFile(path, magic, info);
    if (source == nullptr) return nullptr;
    if (options.variable || options.rate_variable) {
      throw Error(WithFile(
          name, "is a sound file (" + info.format + "): variables are named in MATLAB files only"));
    }
    if (options.rate) info.rate = *options.rate;
  }
  if (info.channels < 1 || info.frames <= 0) {
    throw FormatError(WithFile(name, "holds no samples"));
  }
  if (info.rate_problem.empty() && !(info.rate >= 1.0)) {
    throw FormatError(WithFile(
        name, "its header gives a sample rate of " + FormatShortest(info.rate) + " per second"));
  }
  return source;
}

}  // namespace

double RecordingInfo::FullScale() const {
  return integer ? std::ldexp(1.0, bits - 1) : 1.0;
}

double RecordingInfo::Seconds() const {
  return rate > 0.0 ? static_cast<double>(frames) / rate : 0.0;
}

std::string RecordingInfo::Description() const {
  std::string text = format;
  if (!variable.empty()) text += " variable " + variable;
  text += ", " + encoding + ", ";
  text += channels == 1 ? std::string("1 channel") : FormatInteger(channels) + " channels";
  return text;
}

double RecordingInfo::RequireRate() const {
  if (rate > 0.0) return rate;
  throw FormatError(WithFile(path.string(), rate_problem));
}

FrameRange TimeRange(const RecordingInfo& info, std::optional<double> from_s,
                     std::optional<double> to_s) {
  if (!from_s && !to_s) return {0, info.frames};
  const std::string name = info.path.string();
  const double rate = info.RequireRate();
  const double length = info.Seconds();
  for (const auto& [time, what] : {std::pair{from_s, "start"}, std::pair{to_s, "end"}}) {
    if (!time) continue;
    if (!std::isfinite(*time) || *time < 0.0) {
      throw Error(WithFile(name, std::string("the ") + what + " of the part to read, " +
                                     FormatShortest(*time) + " s, is not a time in the recording"));
    }
    if (*time * rate > static_cast<double>(info.frames) + 0.5) {
      throw Error(WithFile(name, std::string("the ") + what + " of the part to read, " +
                                     Seconds(*time) + ", lies after the recording's end at " +
                                     Seconds(length)));
    }
  }
  FrameRange range{0, info.frames};
  if (from_s) range.first = std::llround(*from_s * rate);
  if (to_s) range.end = std::min(std::llround(*to_s * rate), static_cast<long long>(info.frames));
  if (range.Count() <= 0) {
    throw Error(WithFile(name, "the part from " + Seconds(range.first / rate) + " to " +
                                   Seconds(range.end / rate) + " holds no samples"));
  }
  return range;
}

RecordingReader::RecordingReader(const std::filesystem::path& path, const SourceOptions& source)
    : source_(OpenSource(path, source, info_)) {
  if (source_ == nullptr) {
    throw FormatError(WithFile(path.string(), "not a sound file or MATLAB file KORVA can read"));
  }
}

RecordingReader::RecordingReader(RecordingInfo info, std::unique_ptr<RecordingSource> source)
    : info_(std::move(info)), source_(std::move(source)) {}

std::optional<RecordingReader> RecordingReader::TryOpen(const std::filesystem::path& path,
                                                        const SourceOptions& source) {
  RecordingInfo info;
  auto opened = OpenSource(path, source, info);
  if (opened == nullptr) return std::nullopt;
  return RecordingReader(std::move(info), std::move(opened));
}

RecordingReader::~RecordingReader() = default;
RecordingReader::RecordingReader(RecordingReader&&) noexcept = default;
RecordingReader& RecordingReader::operator=(RecordingReader&&) noexcept = default;

void RecordingReader::Read(int channel, FrameRange range, double scale, const BlockSink& sink,
                           ProgressSink& progress, std::int64_t block_frames) {
  const std::string name = info_.path.string();
  RequireChannel(info_, channel);
  if (range.first < 0 || range.end > info_.frames || range.Count() <= 0) {
    throw Error(WithFile(name, "frames " + FormatInteger(range.first) + " to " +
                                   FormatInteger(range.end - 1) + " are not within the " +
                                   FormatInteger(info_.frames) + " frames of the recording"));
  }
  if (!std::isfinite(scale) || scale == 0.0) {
    throw Error(WithFile(name, "the scale " + FormatShortest(scale) + " is not a usable factor"));
  }
  const std::int64_t block = std::min(
      source_->BlockFrames(std::max<std::int64_t>(block_frames, 1), range.Count()), range.Count());
  std::vector<float> samples(static_cast<std::size_t>(block));
  for (std::int64_t first = range.first; first < range.end;) {
    const std::int64_t count = std::min(block, range.end - first);
    source_->ReadChannel(channel, first, count, samples.data());
    for (std::int64_t i = 0; i < count; ++i) {
      const double raw = samples[static_cast<std::size_t>(i)];
      const auto pascals = static_cast<float>(raw * scale);
      if (!std::isfinite(pascals)) {
        std::string where =
            "channel " + FormatInteger(channel) + ", frame " + FormatInteger(first + i);
        if (info_.rate > 0.0) where += " (" + Seconds((first + i) / info_.rate) + ")";
        throw FormatError(
            WithFile(name, where + (std::isfinite(raw) ? " exceeds single precision once scaled"
                                                       : " is not a finite number")));
      }
      samples[static_cast<std::size_t>(i)] = pascals;
    }
    sink(std::span<const float>(samples.data(), static_cast<std::size_t>(count)), first);
    first += count;
    progress.Checkpoint(first - range.first, range.Count());
  }
}

std::vector<float> RecordingReader::ReadAll(int channel, FrameRange range, double scale,
                                            ProgressSink& progress) {
  std::vector<float> all;
  all.reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(range.Count(), 0, info_.frames)));
  Read(
      channel, range, scale,
      [&](std::span<const float> block, std::int64_t) {
        all.insert(all.end(), block.begin(), block.end());
      },
      progress);
  return all;
}

std::optional<RecordingInfo> ProbeRecording(const std::filesystem::path& path,
                                            const SourceOptions& source) {
  auto reader = RecordingReader::TryOpen(path, source);
  if (!reader) return std::nullopt;
  return reader->Info();
}

void RequireChannel(const RecordingInfo& info, int channel) {
  if (channel >= 0 && channel < info.channels) return;
  const std::string channels = info.channels == 1
                                   ? std::string("1 channel (0)")
                                   : FormatInteger(info.channels) + " channels (0 to " +
                                         FormatInteger(info.channels - 1) + ")";
  throw Error(WithFile(info.path.string(), "there is no channel " + FormatInteger(channel) +
                                               ": the recording has " + channels));
}

}  // namespace korva
