#include "core/waveform/session.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "core/common/error.h"
#include "core/common/numbers.h"

namespace korva {

std::int32_t SampleCapacityFor(std::uint64_t available_bytes) {
  const double wanted = std::nearbyint(0.025 * static_cast<double>(available_bytes));
  return static_cast<std::int32_t>(std::clamp(wanted, static_cast<double>(kMinSampleCapacity),
                                              static_cast<double>(kMaxSampleCapacity)));
}

std::uint64_t AvailableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    if (line.rfind("MemAvailable:", 0) == 0) {
      return static_cast<std::uint64_t>(ParseLeadingNumber(line.substr(13))) * 1024u;
    }
  }
  return 0;
}

std::int32_t DefaultSampleCapacity() {
  return SampleCapacityFor(AvailableMemory());
}

void SampleArray::Grow(std::int64_t index) {
  if (index < 0 || index >= capacity_) throw RangeError();
  if (index >= size()) data_.resize(static_cast<std::size_t>(index) + 1, 0.0f);
}

void SampleArray::CheckHeld(std::int64_t index) const {
  if (index < 0 || index >= size()) throw RangeError();
}

std::span<float> SampleArray::Range(std::int64_t first, std::int64_t last) {
  if (last < first) return {};
  if (first < 0) throw RangeError();
  Grow(last);
  return {data_.data() + first, static_cast<std::size_t>(last - first + 1)};
}

std::span<const float> SampleArray::Range(std::int64_t first, std::int64_t last) const {
  if (last < first) return {};
  CheckHeld(first);
  CheckHeld(last);
  return {data_.data() + first, static_cast<std::size_t>(last - first + 1)};
}

void SampleArray::Fill(std::int64_t first, std::int64_t last, float value) {
  auto span = Range(first, last);
  std::fill(span.begin(), span.end(), value);
}

void SampleArray::Assign(std::span<const float> samples) {
  if (samples.size() > static_cast<std::size_t>(capacity_)) throw RangeError();
  data_.assign(samples.begin(), samples.end());
}

void SampleArray::Truncate(std::int64_t count) {
  if (count < size()) data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
}

void SampleArray::Release() {
  std::vector<float>().swap(data_);
}

std::string& HeaderGrid::Cell(int column, int row) {
  if (column < 0 || column >= kColumns || row < 0 || row >= kRows) throw RangeError();
  return cells_[column][row];
}

const std::string& HeaderGrid::Cell(int column, int row) const {
  if (column < 0 || column >= kColumns || row < 0 || row >= kRows) throw RangeError();
  return cells_[column][row];
}

void HeaderGrid::SetRow(int row, std::string c0, std::string c1, std::string c2) {
  Cell(0, row) = std::move(c0);
  Cell(1, row) = std::move(c1);
  Cell(2, row) = std::move(c2);
}

void HeaderGrid::ClearRow(int row) {
  SetRow(row, {}, {}, {});
}

bool HeaderGrid::RowEmpty(int row) const {
  return Cell(0, row).empty() && Cell(1, row).empty() && Cell(2, row).empty();
}

void HeaderGrid::SetImportTemplate() {
  SetRow(0, "PARAMETER", "VALUE", "COMMENT");
  SetRow(1, "Title for waveform plot", "", "NEW SOURCE");
  SetRow(2, "Sampling rate", "200000",
         "(samples/sec = 1e6/Dt, Dt=time/sample (microseconds) 44100 for WAV files)");
  SetRow(3, "Microphone relative to ear", "1", "1: Free-field, 2: Ear-canal entrance, 3: Eardrum");
  SetRow(4, "Number of Samples", "",
         "typically 4096 or 8192 rounded to nearest power of two during analysis");
  SetRow(5, "Nu", "", "allowed number of unwarned exposures");
  SetRow(6, "Nw", "", "allowed number of warned exposures");
  SetRow(7, "Peak pressure level", "", "dB");
  SetRow(8, "Establish start level", "", "dB");
  SetRow(9, "LAeq8hr", "", "dB");
  SetRow(10, "Na", "",
         "allowed number of exposures based on A-weight energy at eardrum of manikin");
  SetRow(11, "A-weighted energy", "", "joules per square meter");
  for (int row = 12; row < kRows; ++row) ClearRow(row);
}

void HeaderGrid::ResetResultRows() {
  SetRow(5, "Number of exposures with no protector, warned", "", "");
  SetRow(6, "Number of exposures with no protector, unwarned", "", "");
  SetRow(7, "Peak Pressure Level", "", "dB");
  SetRow(8, "LAeq and Leq", "", "dB");
  SetRow(9, "LAeq8hr", "", "dB");
  SetRow(10, "Na", "", "allowed number of exposures based on A-weighted energy under a protector");
  SetRow(11, "A-weighted energy", "", "Joules/m^2");
}

Session::Session(std::int32_t capacity)
    : Pressure(capacity),
      LoadedPressure(capacity),
      BaselineWhole(capacity),
      StatisticsPressure(capacity),
      StapesDisplacement(capacity),
      UnderProtector(capacity) {}

Extremes FindExtremes(const SampleArray& samples, std::int32_t last, float start_max,
                      float start_min) {
  if (last < 0) return {start_max, start_min};
  Extremes result{samples[0], samples[0]};
  for (const float p : samples.Range(1, last)) {
    if (p > result.maximum) result.maximum = p;
    if (p < result.minimum) result.minimum = p;
  }
  return result;
}

void UpdateExtremes(Session& session) {
  const Extremes e = FindExtremes(session.Pressure, session.LastSample);
  session.PeakPressure = e.maximum;
  session.MinPressure = e.minimum;
}

}  // namespace korva
