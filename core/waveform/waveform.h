// A waveform as a value: its samples and what travels with them in a KRV
// file, without a session around it. The analysis driver takes one (or a
// stretch of one, as a view), the Python package holds them by the thousand,
// and a session is made from one for each computation that needs it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/progress.h"
#include "core/waveform/session.h"

namespace korva {

// A waveform, or a stretch of one, without copying its samples: what the
// analysis driver reads. The samples must outlive the view.
struct WaveformView {
  std::span<const float> samples;  // pascals
  float SampleRate = 0.0f;         // samples per second
  float SampleInterval = 0.0f;     // seconds per sample
  std::int32_t MicLocation = 1;    // 1 free field, 2 ear-canal entrance, 3 eardrum, 4 as 1
  std::string_view title;
  // The extremes the waveform was read with (an opened file's are those of
  // its samples before the dither); the hazard movie's scale follows them.
  float PeakPressure = 0.0f;
  float MinPressure = 0.0f;
  // The file it came from, when it did: a place table goes beside it.
  std::filesystem::path file;
};

struct Waveform {
  std::vector<float> samples;
  float SampleRate = 0.0f;
  float SampleInterval = 0.0f;
  std::int32_t MicLocation = 1;
  std::string WaveformTitle;
  // Extremes as the reader or importer found them (the protector's dither
  // follows them), not necessarily those of the samples.
  float PeakPressure = 0.0f;
  float MinPressure = 0.0f;
  HeaderGrid Grid;
  int HeaderLastRow = 4;
  // The file read (empty when it was made otherwise).
  std::filesystem::path file;

  // The whole waveform, or samples first..last of it (RangeError outside it).
  WaveformView View() const;
  WaveformView View(std::int32_t first, std::int32_t last) const;
};

// Samples 0..LastSample and the header of a session.
Waveform WaveformOf(const Session& session);

// The working waveform of a session (Pressure[0..LastSample]) and its scalars
// as a view, with the file it was opened from.
WaveformView ViewOf(const Session& session);

// The header of a waveform that has none of its own: the import template
// with its title, rate, location and count.
HeaderGrid GridOf(const WaveformView& view);

// A session holding the waveform as if it had just been opened: Pressure and
// LoadedPressure hold the samples, the timing and the header are the
// waveform's, the whole waveform is selected. A view has no header rows: the
// grid gets the import template with the view's title, rate, location and
// count. RangeError when the samples exceed the sample capacity.
Session SessionOf(const WaveformView& view);
Session SessionOf(const Waveform& waveform);

// Opens a KRV file as the window's Open does (dither, power-of-two length):
// IoError, FormatError or RangeError naming the file when it cannot.
Waveform ReadWaveform(const std::filesystem::path& path, ProgressSink& progress);

}  // namespace korva
