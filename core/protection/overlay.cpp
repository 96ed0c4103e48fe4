#include "core/protection/overlay.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/waveform/krv.h"

namespace korva {

namespace fs = std::filesystem;

float EarCanalCorrection(int band) {
  if (band < 23 || band > 40) return 0.0f;
  return kOpenEarCanalCorrection[static_cast<std::size_t>(band - 21)];
}

std::array<std::optional<double>, kTableBands> BandDifferences(const BandEnergies& first,
                                                               const BandEnergies& second) {
  std::array<std::optional<double>, kTableBands> d{};
  if (first.empty() || second.empty()) return d;
  const int from = std::max({first.first, second.first}) + 1;
  const int to = std::min(first.last, second.last);
  for (int n = std::max(from, kTableFirstBand); n <= std::min(to, kTableLastBand); ++n) {
    const double e1 = first.Energy(n);
    const double e2 = second.Energy(n);
    if (e1 > 0.0 && e2 > 0.0) {
      const double value = 10.0 * std::log10(e2 / e1);
      if (std::isfinite(value)) d[static_cast<std::size_t>(n - kTableFirstBand)] = value;
    }
  }
  return d;
}

std::string NoiseReductionHeader() {
  std::string line;
  for (int n = kTableFirstBand; n <= kTableLastBand; ++n) {
    line += FormatFixed(std::pow(10.0, n / 10.0) / 1000.0, 3, 3);
    line += n < kTableLastBand ? "\t" : "\r\n";
  }
  return line;
}

std::string NoiseReductionLine(const std::array<std::optional<double>, kTableBands>& differences,
                               const std::string& label) {
  std::string line;
  for (int n = kTableFirstBand; n <= kTableLastBand; ++n) {
    const auto& d = differences[static_cast<std::size_t>(n - kTableFirstBand)];
    if (d) {
      std::string text = FormatFixed(*d - EarCanalCorrection(n), 1, 1);
      if (text == "-0.0") text = "0.0";  // a difference that rounds to nothing has no sign
      line += text;
    }
    line += '\t';
  }
  return line + label + "\t3\t1\t0\r\n";
}

bool AppendNoiseReductionLine(const fs::path& path, const std::string& line) {
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    throw IoError(WithFile(path.string(), "the folder " + folder.string() + " does not exist"));
  }
  const bool exists = fs::exists(path, ec);
  std::string content = exists ? ReadWholeFile(path) : NoiseReductionHeader();
  if (!content.empty() && content.back() != '\n') content += "\r\n";
  content += line;
  WriteFileAtomically(path, content);
  return !exists;
}

OverlayResult OverlayKRVWaveform(Session& session, Lcg& generator, const fs::path& second_file,
                                 const fs::path& table, ProgressSink& progress) {
  if (session.LastSample < 1 || !(session.SampleInterval > 0.0f)) {
    throw Error("Open a KRV waveform before overlaying a second one");
  }
  // The first waveform as loaded, with its own interval and length.
  const float first_dt = session.SampleInterval;
  const std::int32_t first_count = session.LastSample + 1;
  const float kept_start = session.SavedStartTime;
  const float kept_end = session.SavedEndTime;

  // The second file goes into a copy, so that a failure changes nothing.
  Session work = session;
  work.WaveformDir = second_file.has_parent_path() ? second_file.parent_path().string() : ".";
  work.DataFileName = second_file.filename().string();
  const std::string upper = ToUpperAscii(work.DataFileName);
  const std::size_t dot = upper.rfind('.');
  work.FileExt = dot == std::string::npos ? std::string() : upper.substr(dot, 4);
  OpenNewFileType6(work, generator, progress);

  // Cut the second waveform to the first one's kept window.
  double a = work.StartTime;
  double b = work.EndTime;
  if (kept_start < a || kept_start > b) {
    b = a;
  } else {
    a = kept_start;
    b = std::min(b, static_cast<double>(kept_end));
  }
  const double dt2 = work.SampleInterval;
  const auto i0 = static_cast<std::int32_t>(std::nearbyint(a / dt2));
  const auto i1 = std::min(static_cast<std::int32_t>(std::nearbyint(b / dt2)), work.LastSample);
  if (i1 - i0 + 1 < 2) {
    throw Error("The second waveform does not overlap the first one's time window");
  }
  {
    const auto all = work.Pressure.Range(0, i1);
    std::copy(all.begin() + i0, all.end(), all.begin());
  }
  work.LastSample = i1 - i0;
  work.SelFirst = 0;
  work.SelLast = work.LastSample;

  OverlayResult result;
  const std::string name = work.DataFileName;
  result.OverlayLabel = session.BaseName + "_to_" + name.substr(0, name.find('.'));

  // Both spectra; lengths that are not a power of two are zero-padded.
  const auto second = std::as_const(work.Pressure).Range(0, work.LastSample);
  result.second_bins = Leq300msBinEnergies(second, work.SampleInterval);
  result.second_bands = IntegrateThirdOctaveBands(result.second_bins);
  // The first waveform over the same time span, never past its own samples.
  const double span = static_cast<double>(work.LastSample + 1) * dt2;
  const std::int32_t count1 = std::clamp(static_cast<std::int32_t>(std::nearbyint(span / first_dt)),
                                         std::int32_t{2}, first_count);
  result.first_bins =
      Leq300msBinEnergies(std::as_const(session.LoadedPressure).Range(0, count1 - 1), first_dt);
  result.first_bands = IntegrateThirdOctaveBands(result.first_bins);
  result.differences = BandDifferences(result.first_bands, result.second_bands);
  result.line = NoiseReductionLine(result.differences, result.OverlayLabel);

  result.table = ResolveCaseInsensitive(table);
  result.header_written = AppendNoiseReductionLine(result.table, result.line);
  // The session now mixes the second waveform with the first one's loaded
  // samples: it must be opened again before it is analysed or saved.
  work.WaveformLoaded = false;
  session = std::move(work);
  return result;
}

}  // namespace korva
