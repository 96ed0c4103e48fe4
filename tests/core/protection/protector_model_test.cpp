#include "core/protection/protector_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "core/common/error.h"
#include "core/protection/insertion_loss.h"

namespace korva {
namespace {

// A deep earplug of ordinary proportions (CGS acoustic units).
ProtectorCircuit Plug() {
  ProtectorCircuit c;
  c.PistonMass = 2.0f;
  c.CavityStiffness = 3.0e6f;
  c.PistonStiffness = 1.0e8f;
  c.PistonResistance = 2.0e4f;
  c.SuspensionStiffness = 1.0e10f;
  c.SuspensionResistance = 2.0e6f;
  c.LeakMass = 50.0f;
  c.LeakResistance = 5.0e5f;
  c.SecondaryMass = 5.0f;
  c.SecondaryStiffness = 3.0e8f;
  c.SecondaryResistance = 1.0e5f;
  return c;
}

ProtectorCircuit Nonlinear() {
  // A leak that dominates the low frequencies and stiffens with velocity.
  ProtectorCircuit c = Plug();
  c.LeakMass = 5.0f;
  c.LeakResistance = 2.0e4f;
  c.LeakResistanceTransition = 0.1f;
  c.LeakMassTransition = 0.01f;
  c.SecondaryTransition = 1.0e-3f;
  c.SecondaryMassTransition = 0.05f;
  c.SecondaryResistanceTransition = 0.5f;
  return c;
}

// A session holding `samples` at `rate`, extremes set as a reader would.
Session Waveform(const std::vector<float>& samples, float rate) {
  Session s(1 << 21);
  for (std::size_t i = 0; i < samples.size(); ++i)
    s.Pressure[static_cast<std::int64_t>(i)] = samples[i];
  s.LastSample = static_cast<std::int32_t>(samples.size()) - 1;
  s.SampleRate = rate;
  s.SampleInterval = 1.0f / rate;
  UpdateExtremes(s);
  return s;
}

// A Friedlander blast wave of `peak` pascals, 1 ms positive phase, from sample 20.
std::vector<float> Impulse(float peak, int count) {
  std::vector<float> v(static_cast<std::size_t>(count), 0.0f);
  for (int i = 20; i < count; ++i) {
    const double t = (i - 20) / 100000.0;
    v[static_cast<std::size_t>(i)] =
        static_cast<float>(peak * (1.0 - t / 1e-3) * std::exp(-t / 1e-3));
  }
  return v;
}

std::vector<float> Protect(const std::vector<float>& input, const ProtectorCircuit& c, int law,
                           ProtectorRunStats* stats = nullptr) {
  Session s = Waveform(input, 100000.0f);
  Lcg dither(0);
  NoProgress progress;
  const ProtectorRunStats run = TimeDomainModel4(s, c, law, 4.0f, dither, progress);
  if (stats) *stats = run;
  std::vector<float> out;
  for (std::int32_t i = 0; i <= s.LastSample; ++i) out.push_back(s.UnderProtector[i]);
  return out;
}

float Peak(const std::vector<float>& v) {
  float m = 0.0f;
  for (float x : v) m = std::max(m, std::fabs(x));
  return m;
}

TEST(TimeDomainModel4, SilenceStaysSilentWhateverTheFirstSample) {
  // Entry 0 is ignored (every run starts from rest at zero pressure) and a
  // drive of exact zeros has no dither: every velocity stays exactly 0.
  Session s = Waveform(std::vector<float>(64, 0.0f), 100000.0f);
  s.Pressure[0] = 5.0f;
  s.PeakPressure = s.MinPressure = 0.0f;
  Lcg dither(0);
  NoProgress progress;
  TimeDomainModel4(s, Plug(), 0, 4.0f, dither, progress);
  for (std::int32_t i = 0; i <= s.LastSample; ++i) ASSERT_EQ(s.UnderProtector[i], 0.0f) << i;
  EXPECT_EQ(s.Pressure[0], 5.0f);  // the input is not changed
}

TEST(TimeDomainModel4, LinearWithoutTransitionsAndLevelDependentWithinTheSubstepBounds) {
  const std::vector<float> quiet = Impulse(200.0f, 1500);
  std::vector<float> loud = quiet;
  for (float& x : loud) x *= 100.0f;
  const std::vector<float> a = Protect(quiet, Plug(), 0);
  const std::vector<float> b = Protect(loud, Plug(), 0);
  const float scale = Peak(a);
  ASSERT_GT(scale, 0.0f);
  for (std::size_t i = 0; i < a.size(); ++i) {
    ASSERT_NEAR(b[i] / 100.0f, a[i], 1e-3f * scale) << i;
  }
  // With the transitions the loud impulse is attenuated more than the quiet one.
  const std::vector<float> nq = Protect(quiet, Nonlinear(), 2);
  ProtectorRunStats stats;
  const std::vector<float> nl = Protect(loud, Nonlinear(), 2, &stats);
  EXPECT_LT(Peak(nl) / 100.0f, 0.9f * Peak(nq));
  // Every sample runs at least two passes, the finer of at least 256 substeps.
  EXPECT_GE(stats.substeps, 1499 * (kProtectorMinSubsteps + 2 * kProtectorMinSubsteps));
  EXPECT_LE(stats.max_substeps, kProtectorMaxSubsteps);
}

TEST(TimeDomainModel4, PowerLawsShareOrIgnoreTheSecondaryCoefficients) {
  const std::vector<float> input = Impulse(5000.0f, 600);
  // 0 and 1 are the same law.
  EXPECT_EQ(Protect(input, Nonlinear(), 0), Protect(input, Nonlinear(), 1));
  // Under 2 and 3 aK3 serves the whole secondary piston: aM3 and aR3 are ignored.
  ProtectorCircuit other = Nonlinear();
  other.SecondaryMassTransition = 7.0f;
  other.SecondaryResistanceTransition = 9.0f;
  EXPECT_EQ(Protect(input, Nonlinear(), 2), Protect(input, other, 2));
  EXPECT_EQ(Protect(input, Nonlinear(), 3), Protect(input, other, 3));
  EXPECT_NE(Protect(input, Nonlinear(), 0), Protect(input, other, 0));
}

// Two independent computations of one circuit: the integrated steady-state
// amplitude of a tone and |H(f)| of the frequency-domain model.
TEST(TimeDomainModel4, SteadyToneGainMatchesTheTransferFunction) {
  const double rate = 100000.0;
  for (const double f : {250.0, 1000.0, 4000.0}) {
    std::vector<float> tone(8000);
    for (std::size_t i = 0; i < tone.size(); ++i) {
      tone[i] = static_cast<float>(100.0 * std::sin(2.0 * std::numbers::pi * f * i / rate));
    }
    const std::vector<float> out = Protect(tone, Plug(), 0);
    // Amplitude over the last 4000 samples (a whole number of periods).
    double c = 0.0, s = 0.0;
    for (std::size_t i = 4000; i < 8000; ++i) {
      const double phase = 2.0 * std::numbers::pi * f * i / rate;
      c += out[i] * std::cos(phase);
      s += out[i] * std::sin(phase);
    }
    const double amplitude = 2.0 * std::hypot(c, s) / 4000.0;
    const double measured = 20.0 * std::log10(amplitude / 100.0);
    EXPECT_NEAR(measured, ProtectorInsertionLoss(Plug(), f).total, 0.05) << f << " Hz";
  }
}

TEST(TimeDomainModel4, RefusesWhatItCannotIntegrate) {
  const std::vector<float> input = Impulse(1000.0f, 200);
  // A zero mass, a negative transition, too few samples, an unknown law.
  ProtectorCircuit no_leak_mass = Plug();
  no_leak_mass.LeakMass = 0.0f;
  EXPECT_THROW(Protect(input, no_leak_mass, 0), Error);
  ProtectorCircuit negative = Plug();
  negative.LeakResistanceTransition = -1.0f;
  EXPECT_THROW(Protect(input, negative, 0), Error);
  EXPECT_THROW(Protect({1.0f}, Plug(), 0), Error);
  EXPECT_THROW(Protect(input, Plug(), 4), Error);
  // A piston far too light for any substep count: the run stops with a
  // message instead of doubling for ever or writing non-finite samples.
  ProtectorCircuit stiff = Plug();
  stiff.PistonMass = 1e-25f;
  try {
    Protect(input, stiff, 0);
    FAIL() << "an unintegrable circuit was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("protector model"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace korva
