// The analysis session: the one waveform under study with its header grid,
// timing, display window, file names, flags and results. The window and the
// CLI each own one; commands take it by reference.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/common/error.h"

namespace korva {

// The most samples a session's waveforms may hold: round(0.025 x available
// memory) within a floor and a ceiling. Only the samples a waveform holds
// take memory; the capacity is the limit that keeps one command from taking
// all of it. The floor leaves room above 2^20 for Establish Start to grow a
// full-length waveform; the ceiling keeps three full arrays within 1.5 GiB.
inline constexpr std::int32_t kMinSampleCapacity = 1 << 21;
inline constexpr std::int32_t kMaxSampleCapacity = 1 << 27;

// round(0.025 x available bytes) clamped to [kMinSampleCapacity, kMaxSampleCapacity].
std::int32_t SampleCapacityFor(std::uint64_t available_bytes);
// Available physical memory (MemAvailable of /proc/meminfo), or 0 when unknown.
std::uint64_t AvailableMemory();
// SampleCapacityFor(AvailableMemory()).
std::int32_t DefaultSampleCapacity();

// Single-precision samples, sized to the samples written. Writing at an index
// past the end grows the array, with zeros between, up to its capacity. A
// sample never written reads as 0; a view (Range) of samples never written,
// and any index outside 0..capacity - 1, is a RangeError.
class SampleArray {
 public:
  explicit SampleArray(std::int32_t capacity = kMaxSampleCapacity) : capacity_(capacity) {}

  std::int32_t capacity() const { return capacity_; }
  // Samples held: one past the highest index written.
  std::int32_t size() const { return static_cast<std::int32_t>(data_.size()); }
  bool empty() const { return data_.empty(); }

  float& operator[](std::int64_t index) {
    Grow(index);
    return data_[static_cast<std::size_t>(index)];
  }
  float operator[](std::int64_t index) const {
    if (index < 0 || index >= capacity_) throw RangeError();
    return index < size() ? data_[static_cast<std::size_t>(index)] : 0.0f;
  }

  // Checked views of samples first..last (inclusive) for loops that must not
  // check per element; the writable one grows the array to hold them.
  std::span<float> Range(std::int64_t first, std::int64_t last);
  std::span<const float> Range(std::int64_t first, std::int64_t last) const;

  // Sets samples first..last to value.
  void Fill(std::int64_t first, std::int64_t last, float value);
  // Holds exactly `samples` (RangeError beyond the capacity).
  void Assign(std::span<const float> samples);
  // Keeps the first `count` samples; what followed reads as never written.
  void Truncate(std::int64_t count);
  // Holds nothing and gives its memory back.
  void Release();

 private:
  void Grow(std::int64_t index);
  void CheckHeld(std::int64_t index) const;

  std::vector<float> data_;
  std::int32_t capacity_;
};

// The 3 x 30 parameter table above the plot. Cells are (column, row).
class HeaderGrid {
 public:
  static constexpr int kColumns = 3;
  static constexpr int kRows = 30;

  std::string& Cell(int column, int row);
  const std::string& Cell(int column, int row) const;
  void SetRow(int row, std::string c0, std::string c1, std::string c2);
  void ClearRow(int row);
  bool RowEmpty(int row) const;

  // The template of a newly imported waveform (all 30 rows).
  void SetImportTemplate();
  // Rows 5 to 11 as a KRV Open resets them.
  void ResetResultRows();

  bool operator==(const HeaderGrid&) const = default;

 private:
  std::array<std::array<std::string, kRows>, kColumns> cells_{};
};

struct Session {
  explicit Session(std::int32_t capacity = DefaultSampleCapacity());

  std::int32_t SampleCapacity() const { return Pressure.capacity(); }

  // The working waveform: every display, edit and model reads it.
  SampleArray Pressure;
  // The waveform as the last KRV Open left it (dithered, power-of-two
  // length): every hazard run starts from it, whatever was edited since.
  SampleArray LoadedPressure;
  // Set Baseline: the whole waveform while a stretch of it fills the plot.
  SampleArray BaselineWhole;
  // Statistics: the waveform it puts back when it finishes.
  SampleArray StatisticsPressure;
  // A hazard run: the middle ear's stapes displacement (um); the cochlea
  // then leaves its last place's displacement here.
  SampleArray StapesDisplacement;
  // A protector run: the pressure under the protector (Pa).
  SampleArray UnderProtector;

  // Waveform scalars.
  std::int32_t LastSample = -1;
  float SampleRate = 0.0f;
  float SampleInterval = 0.0f;
  std::int32_t FftLength = 0;
  std::int32_t MicLocation = 1;
  std::string WaveformTitle;
  float PeakPressure = 0.0f;
  float MinPressure = 0.0f;
  float UnweightedEnergy = 0.0f;

  // Display window.
  float StartTime = 0.0f;
  float EndTime = 0.0f;
  float SavedStartTime = 0.0f;
  float SavedEndTime = 0.0f;
  float PlotYMax = 0.0f;
  float PlotYMin = 0.0f;
  std::int32_t SelFirst = 0;
  std::int32_t SelLast = 0;

  // File names and folders.
  std::string StartupDir;
  std::string WaveformDir;
  std::string DataFileName;
  std::string BaseName;
  std::string FileExt;

  // Flags.
  bool WaveformLoaded = false;
  bool ImportedWaveform = false;
  bool MovieAvailable = false;
  bool ClearPlotFirst = true;
  bool KeepPlotRange = false;

  // The header grid and the index of its last row read from or written to a file.
  HeaderGrid Grid;
  int HeaderLastRow = 4;

  std::int32_t SampleCount() const { return LastSample + 1; }
};

// Largest and smallest of samples 0..last. The scan starts from the first
// sample rather than from fixed sentinels: unscaled imports (24- and 32-bit
// PCM) lie beyond any sentinel a pressure in pascals would suggest, and a
// stretch wholly above it would otherwise report a minimum that is no sample
// at all. With no samples (last < 0) the given starting values come back
// (the session's rule uses -1e6 / +1e6; the importer -1e10 / +1e10).
struct Extremes {
  float maximum;
  float minimum;
};
Extremes FindExtremes(const SampleArray& samples, std::int32_t last, float start_max = -1.0e6f,
                      float start_min = 1.0e6f);

// Sets PeakPressure and MinPressure of the session by the rule above.
void UpdateExtremes(Session& session);

}  // namespace korva
