#include "core/model/reflex.h"

#include <algorithm>
#include <cmath>

namespace korva {

ReflexTiming ComputeReflexTiming(float reflex_offset, float dt, float time_constant) {
  ReflexTiming t;
  t.ReflexOnset = static_cast<float>(0.005 + double{reflex_offset});
  const double onset = t.ReflexOnset;
  // Clamped so that an absurd interval cannot overflow the sample index.
  const double k0 = std::clamp(std::trunc(onset / dt), -2147483647.0, 2147483647.0);
  t.ReflexOnsetSample = static_cast<std::int32_t>(k0);
  const double x = t.ReflexOnsetSample < 1
                       ? (onset - dt) / time_constant
                       : (onset - t.ReflexOnsetSample * double{dt}) / time_constant;
  t.ReflexStart = static_cast<float>(std::exp(x));
  t.ReflexFactor = t.ReflexStart;
  t.ReflexDecay = static_cast<float>(std::exp(-double{dt} / time_constant));
  return t;
}

}  // namespace korva
