#include "core/protection/insertion_loss.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/common/error.h"

namespace korva {
namespace {

ProtectorCircuit Muff() {
  ProtectorCircuit c;
  c.PistonMass = 0.2f;
  c.CavityStiffness = 9.4e3f;
  c.PistonStiffness = 2.0e5f;
  c.PistonResistance = 150.0f;
  c.SuspensionStiffness = 2.0e7f;
  c.SuspensionResistance = 1.5e4f;
  c.LeakMass = 3.0f;
  c.LeakResistance = 5.0e4f;
  c.SecondaryMass = 0.01f;
  c.SecondaryStiffness = 5.0e5f;
  c.SecondaryResistance = 40.0f;
  return c;
}

TEST(ProtectorInsertionLoss, ScalingEveryValueChangesNothing) {
  // The table stores the values up to a common factor: the curves and the
  // RMS error must not see it.
  const std::vector<double> f = {125, 250, 500, 1000, 2000, 4000, 8000};
  const std::vector<double> target = {-12, -18, -28, -34, -31, -35, -33};
  ProtectorCircuit scaled = Muff();
  for (float* v :
       {&scaled.PistonMass, &scaled.CavityStiffness, &scaled.PistonStiffness,
        &scaled.PistonResistance, &scaled.SuspensionStiffness, &scaled.SuspensionResistance,
        &scaled.LeakMass, &scaled.LeakResistance, &scaled.SecondaryMass, &scaled.SecondaryStiffness,
        &scaled.SecondaryResistance}) {
    *v *= 16.0f;  // a power of two keeps the singles exact
  }
  for (const double freq : {31.5, 125.0, 700.0, 3150.0, 16000.0}) {
    const InsertionLoss a = ProtectorInsertionLoss(Muff(), freq);
    const InsertionLoss b = ProtectorInsertionLoss(scaled, freq);
    EXPECT_NEAR(a.total, b.total, 1e-9) << freq;
    EXPECT_NEAR(a.piston, b.piston, 1e-9) << freq;
    EXPECT_NEAR(a.leak, b.leak, 1e-9) << freq;
    EXPECT_NEAR(a.material, b.material, 1e-9) << freq;
  }
  EXPECT_NEAR(ProtectorRmsError(Muff(), f, target), ProtectorRmsError(scaled, f, target), 1e-9);
}

TEST(ProtectorInsertionLoss, StiffnessDividersFarBelowResonance) {
  // Far below every resonance each spring path divides the pressure with the
  // cavity, the piston through the two springs of its suspension in series,
  // while the leak, having no spring, passes everything.
  const ProtectorCircuit c = Muff();
  const double k1 = c.PistonStiffness, k4 = c.SuspensionStiffness, kc = c.CavityStiffness;
  const double series = k1 * k4 / (k1 + k4);
  const InsertionLoss low = ProtectorInsertionLoss(c, 1e-5);
  EXPECT_NEAR(low.piston, 20.0 * std::log10(kc / (kc + series)), 1e-3);
  EXPECT_NEAR(low.material, 20.0 * std::log10(kc / (kc + c.SecondaryStiffness)), 1e-3);
  EXPECT_NEAR(low.leak, 0.0, 1e-3);
  EXPECT_NEAR(low.total, 0.0, 1e-3);
  EXPECT_THROW(ProtectorInsertionLoss(c, 0.0), Error);
}

TEST(ProtectorPlot, SingleFrequencyRangeAndRmsErrorText) {
  const std::vector<double> one = {1000.0}, one_target = {-20.0};
  const InsertionLossPlot single = ProtectorPlot(Muff(), one, one_target);
  EXPECT_DOUBLE_EQ(single.x_min, std::log10(100.0));
  EXPECT_DOUBLE_EQ(single.x_max, std::log10(4000.0));
  EXPECT_NEAR(single.rms_error, std::fabs(ProtectorInsertionLoss(Muff(), 1000.0).total + 20.0),
              1e-12);
  ASSERT_EQ(single.x.size(), 200u);
  EXPECT_NEAR(single.x.back(), single.x_max, 1e-12);

  // Targets 3 and 4 dB off: RMS sqrt((9 + 16) / 2).
  const std::vector<double> f = {500.0, 2000.0};
  const std::vector<double> target = {ProtectorInsertionLoss(Muff(), 500.0).total - 3.0,
                                      ProtectorInsertionLoss(Muff(), 2000.0).total + 4.0};
  const InsertionLossPlot plot = ProtectorPlot(Muff(), f, target);
  EXPECT_NEAR(plot.rms_error, std::sqrt(12.5), 1e-9);
  EXPECT_EQ(plot.rms_text, "RMS ERROR =    3.536 dB ");
  EXPECT_THROW(ProtectorRmsError(Muff(), {}, {}), Error);
}

}  // namespace
}  // namespace korva
