// The user's edits of the header grid. Four cells are inputs: the title
// (2, 1), the sample rate (1, 2), the microphone location (1, 3) and the
// number of samples (1, 4). An edit becomes pending when its cell is entered
// and is processed when the user leaves the cell or presses Enter; commands
// that read the grid process pending edits first.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/waveform/session.h"

namespace korva {

struct PendingGridEdits {
  bool title = false;
  bool rate = false;
  bool location = false;
  bool count = false;

  // Marks the cell (column, row) pending when it is one of the four inputs;
  // other cells hold text only.
  void Mark(int column, int row);
  bool Any() const { return title || rate || location || count; }
};

struct GridEditResult {
  bool redraw = false;                // the pressure plot must be drawn again
  std::vector<std::string> refusals;  // one message per entry that was refused
};

// Processes the pending edits in the order title, rate, location, count.
// Accepted entries reach the session; a refused entry is replaced in its cell
// by the value the session keeps. A refused rate or location stays pending. A
// count beyond the sample capacity puts the previous count back and throws
// RangeError after the other edits have been processed.
// A rate below `minimum_rate` (the ear model's least, when the caller knows
// the model) is refused like a rate that is no number.
GridEditResult ProcessCell(Session& session, PendingGridEdits& pending, double minimum_rate = 1.0);

// The refusal of a sampling rate below what the ear model can analyse,
// naming both.
std::string SampleRateRefusal(double rate, double minimum_rate);

// Header values given with a command rather than typed (the command line's
// --title, --rate and --mic, the Python package's keywords), checked by the
// rules of the grid's input cells. Error listing every refusal ("; " between
// them); the accepted ones have then reached the session.
struct HeaderEntries {
  std::optional<std::string> title;
  std::optional<std::string> rate;
  std::optional<std::string> location;
};
void ApplyHeaderEntries(Session& session, const HeaderEntries& entries);

}  // namespace korva
