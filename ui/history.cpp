#include "ui/history.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace korva::ui {
namespace {

// The rows a KRV file carries from one Open to the next: the header proper
// and the rows below the results, which Open keeps.
bool FileRow(int row) {
  return row <= 4 || row >= 22;
}

}  // namespace

std::size_t History::State::Bytes() const {
  std::size_t bytes = sizeof(State) + samples.size() * sizeof(float);
  for (int row = 0; row < HeaderGrid::kRows; ++row) {
    for (int column = 0; column < HeaderGrid::kColumns; ++column) {
      bytes += Grid.Cell(column, row).size();
    }
  }
  return bytes;
}

History::State History::Capture(const Session& s, std::uint64_t serial) {
  State state;
  if (s.LastSample >= 0) {
    const auto samples = s.Pressure.Range(0, s.LastSample);
    state.samples.assign(samples.begin(), samples.end());
  }
  state.LastSample = s.LastSample;
  state.SampleRate = s.SampleRate;
  state.SampleInterval = s.SampleInterval;
  state.FftLength = s.FftLength;
  state.MicLocation = s.MicLocation;
  state.WaveformTitle = s.WaveformTitle;
  state.PeakPressure = s.PeakPressure;
  state.MinPressure = s.MinPressure;
  state.StartTime = s.StartTime;
  state.EndTime = s.EndTime;
  state.SavedStartTime = s.SavedStartTime;
  state.SavedEndTime = s.SavedEndTime;
  state.SelFirst = s.SelFirst;
  state.SelLast = s.SelLast;
  state.Grid = s.Grid;
  state.HeaderLastRow = s.HeaderLastRow;
  state.serial = serial;
  return state;
}

void History::Apply(const State& state, Session& s) {
  // Samples past the restored length read as never written, as after a cut.
  s.Pressure.Assign(state.samples);
  s.LastSample = state.LastSample;
  s.SampleRate = state.SampleRate;
  s.SampleInterval = state.SampleInterval;
  s.FftLength = state.FftLength;
  s.MicLocation = state.MicLocation;
  s.WaveformTitle = state.WaveformTitle;
  s.PeakPressure = state.PeakPressure;
  s.MinPressure = state.MinPressure;
  s.StartTime = state.StartTime;
  s.EndTime = state.EndTime;
  s.SavedStartTime = state.SavedStartTime;
  s.SavedEndTime = state.SavedEndTime;
  s.SelFirst = state.SelFirst;
  s.SelLast = state.SelLast;
  s.Grid = state.Grid;
  s.HeaderLastRow = state.HeaderLastRow;
}

bool History::Differs(const State& state, const Session& s) {
  if (state.LastSample != s.LastSample || state.SampleRate != s.SampleRate ||
      state.MicLocation != s.MicLocation || state.WaveformTitle != s.WaveformTitle) {
    return true;
  }
  if (s.LastSample >= 0) {
    const auto samples = s.Pressure.Range(0, s.LastSample);
    // Compared as bits: a NaN left by an edit is a change like any other.
    if (!std::equal(samples.begin(), samples.end(), state.samples.begin(), [](float a, float b) {
          return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
        })) {
      return true;
    }
  }
  for (int row = 0; row < HeaderGrid::kRows; ++row) {
    if (!FileRow(row)) continue;
    for (int column = 0; column < HeaderGrid::kColumns; ++column) {
      // The sample count follows the samples (commands restate it, a save
      // writes the count it writes): only the samples themselves change it.
      if (column == 1 && row == 4) continue;
      if (state.Grid.Cell(column, row) != s.Grid.Cell(column, row)) return true;
    }
  }
  return false;
}

void History::Reset() {
  undo_.clear();
  redo_.clear();
  before_.reset();
  held_ = false;
  typed_ = false;
  bytes_ = 0;
  serial_ = next_serial_++;
  saved_serial_ = serial_;
}

void History::Begin(const Session& session) {
  if (!before_) before_ = Capture(session, serial_);
}

bool History::End(const Session& session, const std::string& name) {
  if (!before_ || held_) return false;
  State before = std::move(*before_);
  before_.reset();
  const bool typed = std::exchange(typed_, false);
  if (!typed && !Differs(before, session)) return false;
  redo_.clear();
  Push(undo_, Step{name, std::move(before)});
  serial_ = next_serial_++;
  Trim();
  return true;
}

void History::Abandon() {
  before_.reset();
  held_ = false;
  typed_ = false;
}

void History::Push(std::deque<Step>& stack, Step step) {
  bytes_ += step.state.Bytes();
  stack.push_back(std::move(step));
}

void History::Trim() {
  const auto over = [this] {
    return undo_.size() + redo_.size() > kHistorySteps || bytes_ > kHistoryBytes;
  };
  // The step furthest from the present goes first: the oldest Undo, then the
  // furthest Redo.
  while (over() && !(undo_.empty() && redo_.empty())) {
    std::deque<Step>& stack = undo_.empty() ? redo_ : undo_;
    bytes_ -= stack.front().state.Bytes();
    stack.pop_front();
  }
}

bool History::Undo(Session& session) {
  Abandon();
  if (undo_.empty()) return false;
  Step step = std::move(undo_.back());
  bytes_ -= step.state.Bytes();
  undo_.pop_back();
  Push(redo_, Step{step.name, Capture(session, serial_)});
  Apply(step.state, session);
  serial_ = step.state.serial;
  Trim();
  return true;
}

bool History::Redo(Session& session) {
  Abandon();
  if (redo_.empty()) return false;
  Step step = std::move(redo_.back());
  bytes_ -= step.state.Bytes();
  redo_.pop_back();
  Push(undo_, Step{step.name, Capture(session, serial_)});
  Apply(step.state, session);
  serial_ = step.state.serial;
  Trim();
  return true;
}

}  // namespace korva::ui
