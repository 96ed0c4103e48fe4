#include "core/common/levels.h"

#include <cmath>

namespace korva {

double LevelDb(double pa) {
  return 20.0 * std::log10(std::fabs(pa) / kReferencePressurePa);
}

double Level94Db(double pa) {
  return 20.0 * std::log10(std::fabs(pa)) + kDbForOnePascal;
}

double EnergyLevel94Db(double mean_square) {
  return 10.0 * std::log10(mean_square) + kDbForOnePascal;
}

double PascalsOf94Db(double level_db) {
  return std::pow(10.0, (level_db - kDbForOnePascal) / 20.0);
}

}  // namespace korva
