// Impulse descriptors of a constructed shot for the criteria tests.
#pragma once

#include "core/metrics/impulse_descriptors.h"

namespace korva::testing {

// The levels the criteria read (dB re 20 uPa) and the A-duration; the
// others empty.
inline ImpulseDescriptors Levels(double peak_db, double lcpeak_db, double lae_db,
                                 double a_duration_ms) {
  ImpulseDescriptors d;
  d.peak_db = peak_db;
  d.lcpeak_db = lcpeak_db;
  d.lae_db = lae_db;
  d.liaeq100ms_db = lae_db + 10.0;
  d.a_duration_ms = a_duration_ms;
  return d;
}

}  // namespace korva::testing
