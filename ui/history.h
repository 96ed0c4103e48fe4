// The window's undo history: each command that changed the waveform or the
// header its file keeps is one step, named for the command, that Undo takes
// back and Redo makes again. A step keeps the waveform and the whole grid as
// they stood before it (Redo: after it), so a round trip gives them back
// byte for byte. Analyses that only write their result rows are no steps.
//
// The history also knows whether the waveform is the one its file holds:
// Open, Import and every save mark the state they leave as the saved one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/waveform/session.h"

namespace korva::ui {

// Steps kept at most, and the bytes their waveforms may take together; the
// oldest steps go first.
inline constexpr std::size_t kHistorySteps = 100;
inline constexpr std::size_t kHistoryBytes = std::size_t{256} << 20;

class History {
 public:
  // A new history: the session as it stands is what its file holds (Open,
  // Import).
  void Reset();

  // A command may change the waveform: the state before it is kept. A step
  // already open (an armed edit, a typed cell) stays open.
  void Begin(const Session& session);
  // The command is over: when the waveform or the header differs from the
  // state kept by Begin, that state becomes the step `name`. While held (an
  // edit armed on the cursor lines) the step stays open for the Done that
  // finishes it. Returns whether a step was made.
  bool End(const Session& session, const std::string& name);
  void Hold(bool held) { held_ = held; }
  bool Held() const { return held_; }
  // A cell typed by hand: the step that follows counts even when only a cell
  // outside the header rows changed.
  void MarkTyped() { typed_ = true; }
  // The open step is dropped (its command put everything back itself).
  void Abandon();

  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // The name of the step Undo (Redo) would take back (make again).
  std::string UndoName() const { return undo_.empty() ? std::string() : undo_.back().name; }
  std::string RedoName() const { return redo_.empty() ? std::string() : redo_.back().name; }
  std::size_t UndoCount() const { return undo_.size(); }
  std::size_t Bytes() const { return bytes_; }

  // Puts the state before the last step (after the next step) into
  // `session`; false when there is none.
  bool Undo(Session& session);
  bool Redo(Session& session);

  // The session now holds what its file holds (a save), or differs from it.
  // What the save itself changed (the length padded, the count cell) brings
  // the session in line with the file rather than editing it: the step open
  // around the save is dropped, not kept as one to undo.
  void MarkSaved() {
    before_.reset();
    typed_ = false;
    saved_serial_ = serial_;
  }
  bool Modified() const { return saved_serial_ != serial_; }

 private:
  struct State {
    std::vector<float> samples;  // 0..LastSample
    std::int32_t LastSample = -1;
    float SampleRate = 0.0f;
    float SampleInterval = 0.0f;
    std::int32_t FftLength = 0;
    std::int32_t MicLocation = 1;
    std::string WaveformTitle;
    float PeakPressure = 0.0f;
    float MinPressure = 0.0f;
    float StartTime = 0.0f;
    float EndTime = 0.0f;
    float SavedStartTime = 0.0f;
    float SavedEndTime = 0.0f;
    std::int32_t SelFirst = 0;
    std::int32_t SelLast = 0;
    HeaderGrid Grid;
    int HeaderLastRow = 4;
    std::uint64_t serial = 0;

    std::size_t Bytes() const;
  };
  struct Step {
    std::string name;
    State state;
  };

  static State Capture(const Session& session, std::uint64_t serial);
  static void Apply(const State& state, Session& session);
  // Whether what a file keeps (samples, timing, header rows 0-4 and 22-29)
  // differs between `state` and `session`.
  static bool Differs(const State& state, const Session& session);
  void Push(std::deque<Step>& stack, Step step);
  void Trim();

  std::deque<Step> undo_;
  std::deque<Step> redo_;
  std::optional<State> before_;
  bool held_ = false;
  bool typed_ = false;
  std::size_t bytes_ = 0;
  std::uint64_t next_serial_ = 1;
  std::uint64_t serial_ = 0;  // of the state the session holds
  std::uint64_t saved_serial_ = 0;
};

}  // namespace korva::ui
