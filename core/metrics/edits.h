// The edits of the plot's pop-up menu, as operations on the session: cut a
// segment, remove a baseline offset, taper the ends, move the onset to 5 ms,
// calibrate, resample, and the bookkeeping of the Statistics read-out. The
// window draws the red cursor lines and hands over where they stand; these
// routines turn the positions into sample indices and change the waveform.
// None of them draws; the window redraws afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/common/prompter.h"
#include "core/plot/frame.h"
#include "core/waveform/session.h"

namespace korva {

// The pixel rectangle of the pressure plot.
struct PlotRect {
  int left = 0;
  int top = 0;
  int width = 1;
  int height = 1;
};

// Screen X of the two cursor lines.
struct CursorPair {
  int x1 = 0;
  int x2 = 0;
};

// An interval of sample indices, first <= last.
struct Selection {
  std::int32_t first = 0;
  std::int32_t last = 0;
};

// The sample under screen X: round(last_sample x (x - left) / width), counted
// in double so that long waveforms on wide plots cannot overflow, and kept
// within 0..last_sample (a line dragged past either edge of the plot means
// that edge).
std::int32_t SampleAtX(std::int32_t last_sample, int x, const PlotRect& plot);

// The Done handlers' rule: order the lines; a first line left of the plot
// counts as its left edge, a second line left of it as one pixel right of the
// edge; then SampleAtX of each.
Selection SelectionFromCursors(std::int32_t last_sample, CursorPair lines, const PlotRect& plot);

// Where each command puts the lines when it arms them, and where they are
// parked when it finishes.
CursorPair SelectSegmentCursors(const PlotRect& plot);  // also Set Baseline's second stage
CursorPair SetBaselineCursors(const PlotRect& plot);
CursorPair StatisticsCursors(const PlotRect& plot);
// Taper: the first line at 3.75 ms of `pressure_frame` (clamped into it).
CursorPair TaperCursors(const PlotRect& plot, const plot::Frame& pressure_frame);
CursorPair ParkedCursors(const PlotRect& plot);

// Select Segment, Done: samples of the selection move to the front, the rest
// is cleared, the segment keeps its time position (StartTime grows), cell
// (1,4) shows the new count.
void SelectSegment(Session& session, CursorPair lines, const PlotRect& plot);

// Set Baseline, first stage ("Expand Selection"): the whole waveform is kept
// in BaselineWhole and the selection fills the plot. Returns the full
// length's last sample, which the second stage needs.
std::int32_t ExpandBaselineSelection(Session& session, CursorPair lines, const PlotRect& plot);

// Set Baseline, second stage ("Select"): the mean of the stretch chosen on the
// enlarged view is subtracted from the whole waveform kept in BaselineWhole,
// which is then released.
void ApplyBaseline(Session& session, std::int32_t saved_last_sample, CursorPair lines,
                   const PlotRect& plot);

// Taper Ends, Done: half-cosine fade-in over 0..i0 and fade-out over
// i1..LastSample. With the second line on the last sample there is no
// fade-out (rather than a zero-length one, which would divide 0 by 0).
void TaperEnds(Session& session, CursorPair lines, const PlotRect& plot);

// Establish Start. Begin finds the peak and the onset, and shows the
// temporary view (LastSample = min(2 x peak index, full length)); the window
// draws the cross at `marker_ms`/`marker_kpa`, puts the first line there and
// then calls ShowStartLevel.
struct EstablishStartView {
  std::int32_t saved_last_sample = 0;
  std::int32_t peak_index = 0;
  float peak = 0.0f;       // largest |sample|, Pa
  float threshold = 0.0f;  // 100 Pa from 140 dB peak level up, else 2 % of the peak
  std::int32_t onset = 0;  // first sample with |sample| >= threshold
  float marker_ms = 0.0f;  // (onset - 0.5) x dt in ms
  float marker_kpa = 0.0f;
};
EstablishStartView BeginEstablishStart(Session& session);

// Row 8 with the level at the first line. `dragging` selects the text of a
// moving line ("dB at T msec.") over the command's initial "dB at 5.0 msec".
// Returns the sample read (CursorSample).
std::int32_t ShowStartLevel(Session& session, int x1, const PlotRect& plot, bool dragging);

// Establish Start, Done: the sample under the first line (on the temporary
// view) is moved to 5.0 ms; the front is padded with zeros or dropped.
// Refuses (Error, waveform unchanged, full length restored) a shift that
// would carry the waveform past the sample capacity.
void FinishEstablishStart(Session& session, const EstablishStartView& view, int x1,
                          const PlotRect& plot);

// Calibration entries, CalUnit 0 to 8.
struct CalibrationUnit {
  const char* label;  // prompt caption
  float proposed;
  float lowest;
  float highest;
  double pascals_per_unit;  // 0 for the plain factor; see TargetPeak
};
extern const std::array<CalibrationUnit, 9> kCalibrationUnits;

// The peak in pascals a typed value stands for (units 1..8).
double TargetPeak(int cal_unit, float value);

// Asks for the value of `cal_unit` with the floating-point prompt and applies
// it. Returns the value used.
float Calibrate(Session& session, Prompter& prompter, int cal_unit);

// Scales the waveform: by `value` itself for unit 0, else so that the largest
// positive sample becomes the target peak. Refuses (Error, waveform
// unchanged) units 1..8 when no sample is positive, and any factor that would
// overflow the samples.
void ApplyCalibration(Session& session, int cal_unit, float value);

// Resample: the confirmation and the prompt, then ResampleTo. Returns false
// when the user did not confirm (nothing changed).
bool Resample(Session& session, Prompter& prompter);
// The confirmation text for the current rate.
std::string ResampleQuestion(const Session& session);

// Linear interpolation to `rate` samples per second. Refuses (Error, waveform
// unchanged) a new length below 2 samples or beyond the capacity.
void ResampleTo(Session& session, float rate);

// Longest waveform (LastSample) the Statistics read-out accepts.
inline constexpr std::int32_t kMaxStatisticsLastSample = (1 << 20) - 1;

// Statistics: Begin keeps the waveform in StatisticsPressure and labels row
// 8; returns the full length's last sample for Finish, which restores it.
// Refuses waveforms of more than 2^20 or fewer than 2 samples with a message.
std::int32_t BeginStatistics(Session& session);
void FinishStatistics(Session& session, std::int32_t saved_last_sample);

}  // namespace korva
