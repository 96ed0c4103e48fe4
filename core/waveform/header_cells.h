// How numbers are read from the cells of the header grid, by every reader of
// the grid alike: the KRV reader, the user's grid edits and the hazard run.
// One rule, so that a cell the window accepts is a cell the analysis accepts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/waveform/session.h"

namespace korva {

// The number a cell holds. Blanks and tabs around it are ignored (the KRV
// writer ends every cell with a blank); anything else, or no number at all,
// makes the cell not a number.
std::optional<double> CellNumber(std::string_view cell);

// The whole number a cell holds: "2", " 2 " and "2.0" are 2; "2.5", "2 x"
// and an empty cell are none.
std::optional<long long> CellWholeNumber(std::string_view cell);

// The microphone location, cell (1, 3), when it is a whole number (its range
// is for the caller to judge).
std::optional<long long> MicLocationCell(const HeaderGrid& grid);

// The rate as a cell shows it: a whole rate without decimals, any other
// exactly, so that a KRV file written from it reads back the same single.
std::string RateCellText(double rate);

}  // namespace korva
