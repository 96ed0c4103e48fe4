#include "core/waveform/grid_edit.h"

#include <algorithm>
#include <cmath>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/waveform/header_cells.h"

namespace korva {

void PendingGridEdits::Mark(int column, int row) {
  if (column == 2 && row == 1) title = true;
  if (column == 1 && row == 2) rate = true;
  if (column == 1 && row == 3) location = true;
  if (column == 1 && row == 4) count = true;
}

namespace {

// Cells are written to KRV files with TAB separators and CR LF line ends, so
// these characters inside a cell would break the file's layout.
void BlankLayoutCharacters(std::string& text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
}

void ProcessTitle(Session& s, GridEditResult& result) {
  std::string& cell = s.Grid.Cell(2, 1);
  BlankLayoutCharacters(cell);
  s.WaveformTitle = cell;
  result.redraw = true;
}

// Returns true when the rate was accepted.
bool ProcessRate(Session& s, GridEditResult& result, double minimum_rate) {
  std::string& cell = s.Grid.Cell(1, 2);
  const auto value = CellNumber(cell);
  const float rate = value ? static_cast<float>(*value) : 0.0f;
  const bool number = value && *value >= 1.0 && std::isfinite(rate);
  if (!number || *value < minimum_rate) {
    result.refusals.push_back(number ? SampleRateRefusal(*value, minimum_rate)
                                     : "Sample rate \"" + cell +
                                           "\" refused: it must be a number of at least 1");
    cell = FormatFixed(s.SampleRate, 0);
    return false;
  }
  const float old_interval = s.SampleInterval;
  s.SampleRate = rate;
  s.SampleInterval = 1.0f / s.SampleRate;
  // The display window keeps its place in samples, so its start scales with
  // the interval; with no previous interval there is nothing to scale.
  if (old_interval > 0.0f && std::isfinite(old_interval)) {
    s.StartTime = s.StartTime * s.SampleInterval / old_interval;
  } else {
    s.StartTime = 0.0f;
  }
  s.EndTime = static_cast<float>(s.LastSample) * s.SampleInterval + s.StartTime;
  s.SavedStartTime = s.StartTime;
  s.SavedEndTime = s.EndTime;
  result.redraw = true;
  return true;
}

bool ProcessLocation(Session& s, GridEditResult& result) {
  std::string& cell = s.Grid.Cell(1, 3);
  const auto value = CellWholeNumber(cell);
  if (!value || *value < 1 || *value > 3) {
    result.refusals.push_back("Microphone location \"" + cell + "\" refused: it must be 1, 2 or 3");
    cell = FormatInteger(s.MicLocation);
    return false;
  }
  s.MicLocation = static_cast<std::int32_t>(*value);
  return true;
}

void ProcessCount(Session& s, GridEditResult& result) {
  std::string& cell = s.Grid.Cell(1, 4);
  const std::string current = FormatInteger(static_cast<long long>(s.LastSample) + 1);
  const auto value = CellWholeNumber(cell);
  if (!value) {
    // Text that is not an integer counts as the current count.
    cell = current;
    return;
  }
  // Fewer than two samples leave no waveform to draw or analyse, and a
  // negative count would clear from a negative index.
  if (*value < 2) {
    result.refusals.push_back("Number of samples \"" + cell + "\" refused: it must be at least 2");
    cell = current;
    return;
  }
  if (*value > s.SampleCapacity()) {
    cell = current;
    throw RangeError(FormatInteger(*value) + " samples exceed the sample capacity of " +
                     FormatInteger(s.SampleCapacity()));
  }
  const auto last = static_cast<std::int32_t>(*value - 1);
  // Shortening clears the dropped tail; lengthening appends zeros.
  const std::int32_t low = std::min(last, s.LastSample) + 1;
  const std::int32_t high = std::max(last, s.LastSample);
  if (high >= low) s.Pressure.Fill(low, high, 0.0f);
  s.LastSample = last;
  s.SelFirst = std::min(s.SelFirst, last);
  s.SelLast = std::min(s.SelLast, last);
  s.EndTime = static_cast<float>(s.LastSample) * s.SampleInterval + s.StartTime;
  result.redraw = true;
}

}  // namespace

std::string SampleRateRefusal(double rate, double minimum_rate) {
  return "Sampling rate " + FormatShortest(rate) + " refused: the ear model analyses rates from " +
         FormatInteger(static_cast<long long>(std::ceil(minimum_rate))) +
         " samples per second upward (twice the frequency of its most basal place)";
}

GridEditResult ProcessCell(Session& session, PendingGridEdits& pending, double minimum_rate) {
  GridEditResult result;
  if (pending.title) {
    ProcessTitle(session, result);
    pending.title = false;
  }
  if (pending.rate && ProcessRate(session, result, minimum_rate)) pending.rate = false;
  if (pending.location && ProcessLocation(session, result)) pending.location = false;
  if (pending.count) {
    pending.count = false;
    ProcessCount(session, result);
  }
  return result;
}

void ApplyHeaderEntries(Session& session, const HeaderEntries& entries) {
  PendingGridEdits pending;
  const auto enter = [&](const std::optional<std::string>& value, int column, int row) {
    if (!value) return;
    session.Grid.Cell(column, row) = *value;
    pending.Mark(column, row);
  };
  enter(entries.title, 2, 1);
  enter(entries.rate, 1, 2);
  enter(entries.location, 1, 3);
  if (!pending.Any()) return;
  const GridEditResult result = ProcessCell(session, pending);
  if (result.refusals.empty()) return;
  std::string message;
  for (const std::string& refusal : result.refusals) {
    message += (message.empty() ? "" : "; ") + refusal;
  }
  throw Error(message);
}

}  // namespace korva
