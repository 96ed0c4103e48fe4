#include "core/recording/recording_import.h"

#include <cmath>
#include <system_error>
#include <utility>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"

namespace korva {
namespace {

std::string Seconds(double s) {
  return FormatFixed(s, 3) + " s";
}

// Progress in thousandths; reading a calibrator recording takes the first fifth.
constexpr long long kProgressTotal = 1000;
constexpr long long kCalibratorShare = 200;

void NameTheFile(Session& session, const std::filesystem::path& path) {
  session.Grid.SetImportTemplate();
  session.WaveformDir = path.parent_path().string();
  session.DataFileName = path.filename().string();
  session.FileExt = ToUpperAscii(path.extension().string()).substr(0, 4);
}

RecordingImport ReadWithReader(Session& session, RecordingReader& reader,
                               const RecordingImportOptions& options, ProgressSink& progress) {
  const RecordingInfo& info = reader.Info();
  const std::string name = info.path.string();
  const RecordingRequest& request = options.request;
  RecordingImport result;
  result.recording = info;
  result.file_channels = info.channels;
  // The part is checked against what the caller can keep before a
  // calibrator recording is read for it.
  const FrameRange part = TimeRange(info, request.from_s, request.to_s);
  const double rate = info.RequireRate();
  if (options.max_samples && part.Count() > *options.max_samples) {
    throw Error(WithFile(name, "the part to import holds " + FormatInteger(part.Count()) +
                                   " samples (" + Seconds(part.Count() / rate) +
                                   "), more than the " + FormatInteger(*options.max_samples) +
                                   " a waveform file holds: import a part of at most " +
                                   Seconds(*options.max_samples / rate)));
  }
  if (part.Count() > session.SampleCapacity()) {
    throw RangeError(WithFile(name, FormatInteger(part.Count()) +
                                        " samples exceed the sample capacity of " +
                                        FormatInteger(session.SampleCapacity())));
  }
  const long long start = request.calibration.calibrator ? kCalibratorShare : 0;
  StageProgress calibrating(progress, 0, start, kProgressTotal);
  const ChannelPlan plan = PlanChannel(reader, request, calibrating);
  result.calibration = plan.calibration;
  StageProgress reading(progress, start, kProgressTotal, kProgressTotal);
  std::vector<float> samples =
      reader.ReadAll(plan.channel, plan.range, plan.calibration.pa_per_unit, reading);

  NameTheFile(session, info.path);
  CommitImportedSamples(session, std::move(samples), rate,
                        RecordingComment(info, plan.channel, plan.range, plan.calibration));
  result.outcome = ImportOutcome::kImported;
  return result;
}

// The value that stands for full scale in what the importer decoded: the
// integers of a PCM WAV file or of 16-bit binary, otherwise numbers taken as
// fractions of full scale.
double ImportedFullScale(const std::filesystem::path& path, const std::optional<WavHeader>& wav,
                         const ImportOptions& import) {
  if (wav) {
    const int width = wav->channels > 0 ? wav->block_align / wav->channels : 0;
    return wav->Format() == 1 ? std::ldexp(1.0, 8 * width - 1) : 1.0;
  }
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) > import.buffer_limit || ec) return 1.0;
  const FormatFlags flags = ComputeFormatFlags(ReadWholeFile(path, import.buffer_limit));
  return !flags.plain_text && !flags.four_byte_pattern ? 32768.0 : 1.0;
}

RecordingImport ReadWithImporter(Session& session, const std::filesystem::path& path,
                                 const std::string& head, const RecordingImportOptions& options,
                                 Prompter& prompter, ProgressSink& progress) {
  const std::string name = path.string();
  const RecordingRequest& request = options.request;
  if (request.source.variable || request.source.rate_variable) {
    throw Error(WithFile(name, "variables are named in MATLAB files only"));
  }
  RecordingImport result;
  std::optional<WavHeader> wav;
  if (StartsAsWav(head)) {
    try {
      wav = ReadWavHeader(head);
      result.file_channels = wav->channels;
    } catch (const FormatError&) {
      // The importer says what is wrong with it.
    }
  }
  result.outcome = ImportWaveform(session, path, prompter, progress, options.import);
  const bool cut = request.from_s || request.to_s;
  if (result.outcome != ImportOutcome::kImported || (!cut && !request.calibration.Any())) {
    return result;
  }

  RecordingInfo as_read;
  as_read.path = path;
  as_read.frames = session.SampleCount();
  as_read.rate = request.source.rate.value_or(session.SampleRate);
  const FrameRange range = TimeRange(as_read, request.from_s, request.to_s);
  const bool needs_full_scale = request.calibration.sensitivity || request.calibration.calibrator;
  result.calibration = ResolveCalibration(
      request.calibration, needs_full_scale ? ImportedFullScale(path, wav, options.import) : 1.0, 0,
      request.source, progress);

  const auto kept = session.Pressure.Range(range.first, range.end - 1);
  std::vector<float> samples(kept.begin(), kept.end());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<float>(samples[i] * result.calibration.pa_per_unit);
    if (!std::isfinite(samples[i])) {
      throw FormatError(WithFile(name, "sample " + FormatInteger(range.first + i) +
                                           " exceeds single precision once scaled"));
    }
  }
  std::optional<std::string> comment;
  if (result.calibration.calibrated) {
    comment = (wav ? session.Grid.Cell(2, 2) + "; " : std::string()) + result.calibration.text;
  }
  CommitImportedSamples(session, std::move(samples), session.SampleRate, std::move(comment));
  return result;
}

}  // namespace

RecordingImport ImportRecordingFile(Session& session, const std::filesystem::path& path,
                                    const RecordingImportOptions& options, Prompter& prompter,
                                    ProgressSink& progress) {
  std::error_code ec;
  const std::uint64_t size = std::filesystem::file_size(path, ec);
  if (ec) throw IoError(WithFile(path.string(), "cannot open: " + ec.message()));
  // Enough for any WAV header the importer would read.
  const std::string head = ReadFileStart(path, std::size_t{1} << 20);
  const RecordingRequest& request = options.request;
  const bool importers_wav = StartsAsWav(head) && size <= options.import.buffer_limit &&
                             !request.channel && !request.from_s && !request.to_s;

  // Everything happens on a copy, so that a refusal halfway (a part outside
  // the recording, a calibrator tone off its frequency) changes nothing.
  Session work = session;
  RecordingImport result;
  std::optional<RecordingReader> reader;
  if (!importers_wav) reader = RecordingReader::TryOpen(path, request.source);
  if (reader) {
    result = ReadWithReader(work, *reader, options, progress);
    work.ImportedWaveform = true;
    work.ClearPlotFirst = true;
  } else {
    result = ReadWithImporter(work, path, head, options, prompter, progress);
  }
  if (result.outcome != ImportOutcome::kCancelled) session = std::move(work);
  return result;
}

std::string RecordingComment(const RecordingInfo& info, int channel, FrameRange range,
                             const Calibration& calibration) {
  std::string text = info.Description() + "; channel " + FormatInteger(channel);
  if (range.first != 0 || range.end != info.frames) {
    text += ", " + Seconds(range.first / info.rate) + " to " + Seconds(range.end / info.rate);
  }
  text += "; " + calibration.text;
  for (char& c : text) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

}  // namespace korva
