#include "core/waveform/header_cells.h"

#include <cmath>

#include "core/common/numbers.h"

namespace korva {

std::optional<double> CellNumber(std::string_view cell) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!cell.empty() && blank(cell.front())) cell.remove_prefix(1);
  while (!cell.empty() && blank(cell.back())) cell.remove_suffix(1);
  return ParseWholeNumber(cell);
}

std::optional<long long> CellWholeNumber(std::string_view cell) {
  const std::optional<double> number = CellNumber(cell);
  // Beyond 2^53 a double no longer tells whole numbers apart.
  if (!number || *number != std::trunc(*number) || std::fabs(*number) > 9.0e15) {
    return std::nullopt;
  }
  return static_cast<long long>(*number);
}

std::optional<long long> MicLocationCell(const HeaderGrid& grid) {
  return CellWholeNumber(grid.Cell(1, 3));
}

std::string RateCellText(double rate) {
  return rate == std::nearbyint(rate) ? FormatFixed(rate, 0) : FormatShortest(rate);
}

}  // namespace korva
