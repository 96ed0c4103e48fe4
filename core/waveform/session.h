// The analysis session: the one waveform under study with its header grid,
// timing, display window, file names, flags and results. The window and the
// CLI each own one; commands take it by reference.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace korva {

// Capacity limits of the sample arrays. The floor leaves room above 2^20 for
// Establish Start to grow a full-length waveform; the ceiling keeps three
// arrays within 1.5 GiB of address space whatever the machine reports.
inline constexpr std::int32_t kMinSampleCapacity = 1 << 21;
inline constexpr std::int32_t kMaxSampleCapacity = 1 << 27;
// Loading clears this many samples of Pressure.
inline constexpr std::int32_t kClearedSamples = 1 << 20;

// round(0.025 x available bytes) clamped to [kMinSampleCapacity, kMaxSampleCapacity].
std::int32_t SampleCapacityFor(std::uint64_t available_bytes);
// Available physical memory (MemAvailable of /proc/meminfo), or 0 when unknown.
std::uint64_t AvailableMemory();
// SampleCapacityFor(AvailableMemory()).
std::int32_t DefaultSampleCapacity();

// A fixed-capacity array of single-precision samples. Memory is taken from
// the system zero-filled and untouched pages cost nothing, so a large
// capacity is cheap until used. Every access is checked (RangeError).
class SampleArray {
 public:
  explicit SampleArray(std::int32_t capacity);
  ~SampleArray();
  // Copies carry the samples written so far (up to the highest index ever
  // reached for writing), not the whole capacity.
  SampleArray(const SampleArray& other);
  SampleArray& operator=(const SampleArray& other);
  SampleArray(SampleArray&& other) noexcept;
  SampleArray& operator=(SampleArray&& other) noexcept;

  std::int32_t capacity() const { return capacity_; }

  float& operator[](std::int64_t index) {
    Check(index);
    if (index >= extent_) extent_ = static_cast<std::int32_t>(index) + 1;
    return data_[index];
  }
  float operator[](std::int64_t index) const {
    Check(index);
    return data_[index];
  }

  // Checked views of samples first..last (inclusive) for loops that must not
  // check per element.
  std::span<float> Range(std::int64_t first, std::int64_t last);
  std::span<const float> Range(std::int64_t first, std::int64_t last) const;

  // Sets samples first..last to value.
  void Fill(std::int64_t first, std::int64_t last, float value);

 private:
  void Check(std::int64_t index) const;

  float* data_ = nullptr;
  std::int32_t capacity_ = 0;
  std::int32_t extent_ = 0;  // one past the highest index handed out for writing
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

  // Sample arrays, all of the same capacity.
  SampleArray Pressure;
  SampleArray PressureBackup;
  SampleArray LoadedPressure;

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
