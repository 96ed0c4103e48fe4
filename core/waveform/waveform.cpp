#include "core/waveform/waveform.h"

#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/waveform/header_cells.h"
#include "core/waveform/krv.h"

namespace korva {

WaveformView Waveform::View() const {
  return {samples,       SampleRate,   SampleInterval, MicLocation,
          WaveformTitle, PeakPressure, MinPressure,    file};
}

WaveformView Waveform::View(std::int32_t first, std::int32_t last) const {
  if (first < 0 || last < first || static_cast<std::size_t>(last) >= samples.size()) {
    throw RangeError("samples " + FormatInteger(first) + " to " + FormatInteger(last) +
                     " of a waveform of " + FormatInteger(static_cast<long long>(samples.size())));
  }
  WaveformView view = View();
  view.samples = view.samples.subspan(static_cast<std::size_t>(first),
                                      static_cast<std::size_t>(last - first) + 1);
  return view;
}

Waveform WaveformOf(const Session& session) {
  Waveform w;
  const auto samples = session.Pressure.Range(0, session.LastSample);
  w.samples.assign(samples.begin(), samples.end());
  w.SampleRate = session.SampleRate;
  w.SampleInterval = session.SampleInterval;
  w.MicLocation = session.MicLocation;
  w.WaveformTitle = session.WaveformTitle;
  w.PeakPressure = session.PeakPressure;
  w.MinPressure = session.MinPressure;
  w.Grid = session.Grid;
  w.HeaderLastRow = session.HeaderLastRow;
  return w;
}

WaveformView ViewOf(const Session& session) {
  WaveformView view;
  view.samples = session.Pressure.Range(0, session.LastSample);
  view.SampleRate = session.SampleRate;
  view.SampleInterval = session.SampleInterval;
  view.MicLocation = session.MicLocation;
  view.title = session.WaveformTitle;
  view.PeakPressure = session.PeakPressure;
  view.MinPressure = session.MinPressure;
  if (!session.DataFileName.empty()) view.file = WaveformPath(session);
  return view;
}

HeaderGrid GridOf(const WaveformView& view) {
  HeaderGrid grid;
  grid.SetImportTemplate();
  grid.Cell(2, 1) = std::string(view.title);
  grid.Cell(1, 2) = RateCellText(view.SampleRate);
  grid.Cell(1, 3) = FormatInteger(view.MicLocation);
  grid.Cell(1, 4) = FormatInteger(static_cast<long long>(view.samples.size()));
  return grid;
}

Session SessionOf(const WaveformView& view) {
  Session s;
  const auto count = static_cast<std::int64_t>(view.samples.size());
  if (count > s.SampleCapacity()) {
    throw RangeError(FormatInteger(count) + " samples exceed the sample capacity of " +
                     FormatInteger(s.SampleCapacity()));
  }
  const auto last = static_cast<std::int32_t>(count - 1);
  s.Pressure.Assign(view.samples);
  s.LoadedPressure.Assign(view.samples);
  s.LastSample = last;
  s.FftLength = static_cast<std::int32_t>(count);
  s.SampleRate = view.SampleRate;
  s.SampleInterval = view.SampleInterval;
  s.MicLocation = view.MicLocation;
  s.WaveformTitle = std::string(view.title);
  s.PeakPressure = view.PeakPressure;
  s.MinPressure = view.MinPressure;
  s.Grid = GridOf(view);
  s.SelFirst = 0;
  s.SelLast = last;
  s.EndTime = static_cast<float>(last * double{s.SampleInterval});
  s.SavedEndTime = s.EndTime;
  s.WaveformLoaded = true;
  if (!view.file.empty()) ChooseWaveformFile(s, view.file);
  return s;
}

Session SessionOf(const Waveform& waveform) {
  Session s = SessionOf(waveform.View());
  s.Grid = waveform.Grid;
  s.HeaderLastRow = waveform.HeaderLastRow;
  return s;
}

Waveform ReadWaveform(const std::filesystem::path& path, ProgressSink& progress) {
  Session session;
  OpenWaveform(session, path, progress);
  Waveform w = WaveformOf(session);
  w.file = WaveformPath(session);
  return w;
}

}  // namespace korva
