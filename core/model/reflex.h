// Timing of the middle-ear-muscle reflex. The reflex switches on at
// ReflexOnset = 0.005 s + ReflexOffset after the start of the waveform and
// then approaches full strength as 1 - exp(-(t - onset)/tau). The same values
// drive the middle-ear model and the reflex curve drawn over the pressure
// plot, so both come from ComputeReflexTiming.
#pragma once

#include <cstdint>

namespace korva {

// ReflexOffset of a listener who was warned: the reflex is already fully
// active when the sound arrives.
inline constexpr float kWarnedReflexOffset = -0.05f;

struct ReflexTiming {
  float ReflexOnset = 0.0f;            // seconds
  std::int32_t ReflexOnsetSample = 0;  // k0 = Trunc(onset / dt); negative when before the waveform
  float ReflexStart = 1.0f;            // r at the onset sample (> 1 before the onset)
  float ReflexFactor = 1.0f;           // the running r, starting at ReflexStart
  float ReflexDecay = 1.0f;            // r is multiplied by this every sample after k0
};

// The timing for `reflex_offset` (seconds), sampling interval `dt` and time
// constant `time_constant` (both > 0).
ReflexTiming ComputeReflexTiming(float reflex_offset, float dt, float time_constant);

// The reflex factor at the end of sample interval i (i >= 1) when r has been
// advanced to `r`: 1 + (1 - r) (full - 1).
inline float ReflexBlend(float r, float full) {
  return static_cast<float>(1.0 + (1.0 - double{r}) * (double{full} - 1.0));
}

}  // namespace korva
