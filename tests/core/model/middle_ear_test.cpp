#include "core/model/middle_ear.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "core/common/error.h"
#include "tests/core/model/model_test_support.h"

namespace korva {
namespace {

using testing::Friedlander;
using testing::PascalsForLevel;
using testing::TestModel;

constexpr float kDt = 5e-6f;

ReflexTiming NoReflex() {
  return ComputeReflexTiming(100.0f, kDt, 0.011f);  // onset far beyond any test waveform
}
ReflexTiming Warned() {
  return ComputeReflexTiming(kWarnedReflexOffset, kDt, TestModel().params.ReflexTimeConstant());
}

struct ModelRun {
  std::vector<float> out;
  MiddleEarStats stats;
};

ModelRun RunVariant(EarVariant variant, const std::vector<float>& p, const ReflexTiming& timing,
                    std::int32_t minimum_substeps = 1) {
  ModelRun run{std::vector<float>(p.size(), -1.0f), {}};
  NoProgress none;
  IntegrationOptions options;
  options.minimum_substeps = minimum_substeps;
  run.stats = RunMiddleEarModel(variant, TestModel(), timing, kDt, p, run.out, none, options);
  return run;
}

double Peak(const std::vector<float>& v) {
  double m = 0.0;
  for (float x : v) m = std::max(m, double{std::fabs(x)});
  return m;
}

const EarVariant kVariants[] = {EarVariant::FreeField, EarVariant::CanalEntrance,
                                EarVariant::Eardrum};

TEST(MiddleEar, SilenceStaysAtRestWithOneRefinementAndSampleZeroNeverDrives) {
  const std::vector<float> zeros(2000, 0.0f);
  std::vector<float> first_only(500, 0.0f);
  first_only[0] = 5000.0f;
  for (const EarVariant v : kVariants) {
    const ModelRun run = RunVariant(v, zeros, Warned());
    for (float x : run.out) ASSERT_EQ(x, 0.0f);
    // One pass, then exactly one refinement, for each of samples 1..last.
    EXPECT_EQ(run.stats.passes, 2 * 1999);
    EXPECT_EQ(run.stats.capped_samples, 0);
    for (float x : RunVariant(v, first_only, NoReflex()).out) ASSERT_EQ(x, 0.0f);
  }
}

TEST(MiddleEar, SmallSignalsScaleLinearlyAndLoudOnesCompress) {
  for (const EarVariant v : kVariants) {
    const auto quiet = Friedlander(3000, kDt, PascalsForLevel(100));
    auto twice = quiet;
    for (float& x : twice) x *= 2.0f;
    const ModelRun a = RunVariant(v, quiet, NoReflex());
    const ModelRun b = RunVariant(v, twice, NoReflex());
    ASSERT_GT(Peak(a.out), 0.0);
    EXPECT_NEAR(Peak(b.out) / Peak(a.out), 2.0, 0.002) << "variant " << static_cast<int>(v);

    // Near 170 dB the stapes spring has hardened: doubling the pressure
    // gives clearly less than double the displacement.
    const auto loud = Friedlander(3000, kDt, PascalsForLevel(170));
    auto louder = loud;
    for (float& x : louder) x *= 2.0f;
    const double ratio =
        Peak(RunVariant(v, louder, NoReflex()).out) / Peak(RunVariant(v, loud, NoReflex()).out);
    EXPECT_LT(ratio, 1.8) << "variant " << static_cast<int>(v);
    EXPECT_GT(ratio, 1.0) << "variant " << static_cast<int>(v);
  }
}

TEST(MiddleEar, AdaptiveSubstepsAgreeWithAMuchFinerFixedRun) {
  const auto p = Friedlander(600, kDt, PascalsForLevel(160), 0.0003);
  for (const EarVariant v : kVariants) {
    const ModelRun adaptive = RunVariant(v, p, Warned());
    const ModelRun fine = RunVariant(v, p, Warned(), 256);
    EXPECT_GE(fine.stats.max_substeps, 512);
    EXPECT_LT(adaptive.stats.derivative_evaluations, fine.stats.derivative_evaluations / 4);
    const double scale = Peak(fine.out);
    double worst = 0.0;
    for (std::size_t i = 0; i < p.size(); ++i) {
      worst = std::max(worst, std::fabs(double{adaptive.out[i]} - fine.out[i]));
    }
    EXPECT_LT(worst, 0.01 * scale) << "variant " << static_cast<int>(v);
  }
}

TEST(MiddleEar, ReflexActsFromTheStartWhenWarnedAndOnlyAfterTheOnsetWhenNot) {
  // A steady 1 kHz tone: the reflex stiffens the chain and lowers the output.
  std::vector<float> p(6000);
  for (std::size_t i = 0; i < p.size(); ++i) {
    p[i] = static_cast<float>(20.0 * std::sin(2.0 * 3.14159265358979 * 1000.0 * i * kDt));
  }
  // The eardrum network: the pressure reaches the stapes within the first
  // interval, so the first driven sample shows the reflex.
  const ModelRun none = RunVariant(EarVariant::Eardrum, p, NoReflex());
  const ModelRun warned = RunVariant(EarVariant::Eardrum, p, Warned());
  ASSERT_NE(none.out[1], 0.0f);
  EXPECT_NE(warned.out[1], none.out[1]);
  // Unwarned with the onset at sample 3000: identical up to it, then weaker.
  const ReflexTiming late = ComputeReflexTiming(0.01f, kDt, 0.002f);
  const std::int32_t k0 = late.ReflexOnsetSample;
  ASSERT_GT(k0, 2900);
  ASSERT_LT(k0, 3100);
  const ModelRun unwarned = RunVariant(EarVariant::Eardrum, p, late);
  for (int i = 0; i <= k0; ++i) ASSERT_EQ(unwarned.out[i], none.out[i]) << i;
  EXPECT_NE(unwarned.out[k0 + 1], none.out[k0 + 1]);
  const auto tail_peak = [](const std::vector<float>& v) {
    return Peak(std::vector<float>(v.end() - 1000, v.end()));
  };
  EXPECT_LT(tail_peak(unwarned.out), 0.7 * tail_peak(none.out));
  EXPECT_NEAR(tail_peak(unwarned.out), tail_peak(warned.out), 0.05 * tail_peak(warned.out));
}

TEST(MiddleEar, RunawayNetworksStopAtTheBoundOrWithAMessage) {
  NoProgress none;
  // A reduction below 1 makes N grow every sample: it must stop at the bound.
  const EarModelConstants growing =
      DeriveEarModelConstants(ParseEarModelText(testing::ModelTextWith(67, "0.5"), "test"));
  const auto p = Friedlander(6, kDt, PascalsForLevel(150), 0.0);
  std::vector<float> out(p.size());
  EXPECT_EQ(TimeDomainModel1(growing, NoReflex(), kDt, p, out, none).max_substeps, kMaxSubsteps);
  for (float x : out) EXPECT_TRUE(std::isfinite(x));
  // A negative stapes mass makes the network blow up: refused, not NaN.
  const EarModelConstants unstable =
      DeriveEarModelConstants(ParseEarModelText(testing::ModelTextWith(27, "-0.0035"), "test"));
  const auto q = Friedlander(4000, kDt, PascalsForLevel(140), 0.0);
  std::vector<float> out_q(q.size());
  EXPECT_THROW(TimeDomainModel3(unstable, NoReflex(), kDt, q, out_q, none), Error);
}

TEST(MiddleEar, TheStapesSpringsTangentAgreesWithTheLibrarysUpToTheCap) {
  // Both the test file's constants and the stiff benchmark's, from rest
  // through the steep end (where tan grows without bound) into the cap.
  const EarModelConstants stiff = LoadEarModel(
      std::filesystem::path(KORVA_SOURCE_DATA_DIR).parent_path() / "bench/data/stiff.par");
  for (const EarModelConstants* c : {&TestModel(), &stiff}) {
    const double wall = 4.0 * c->params.P[36] / c->OutputScale;  // Q2 beyond the cap
    double worst = 0.0;
    for (int i = -20000; i <= 20000; ++i) {
      const double q2 = wall * i / 20000.0;
      const double library = StapesSpringFactor(*c, q2);
      worst = std::max(worst, std::fabs(StapesSpring(*c, q2) / library - 1.0));
    }
    EXPECT_LT(worst, 8e-16);  // a few units in the last place
    EXPECT_EQ(StapesSpring(*c, 0.0), StapesSpringFactor(*c, 0.0));
  }
}

TEST(MiddleEar, EveryVectorWidthAndPassOrderGivesTheSameNumbers) {
  // The widths and the interleaved passes only reorder independent work:
  // the results must be identical, not merely close.
  const auto p = Friedlander(1500, kDt, PascalsForLevel(165), 0.0005);
  for (const EarVariant v : kVariants) {
    std::vector<std::vector<float>> outputs;
    std::vector<long long> evaluations;
    for (const int width : {2, 4, 8}) {
      if (width > WidestVectorWidth()) continue;
      for (const bool paired : {true, false}) {
        IntegrationOptions options;
        options.vector_width = width;
        options.paired_passes = paired;
        std::vector<float> out(p.size());
        NoProgress none;
        evaluations.push_back(
            RunMiddleEarModel(v, TestModel(), Warned(), kDt, p, out, none, options)
                .derivative_evaluations);
        outputs.push_back(out);
      }
    }
    ASSERT_GE(outputs.size(), 2u);
    ASSERT_GT(Peak(outputs[0]), 0.0);
    for (std::size_t k = 1; k < outputs.size(); ++k) {
      EXPECT_EQ(outputs[k], outputs[0]) << "variant " << static_cast<int>(v) << " way " << k;
      EXPECT_EQ(evaluations[k], evaluations[0]);
    }
  }
}

TEST(MiddleEar, ProgressIsReportedForTinyWaveformsToo) {
  struct Count final : ProgressSink {
    int calls = 0;
    void Report(long long, long long) override { ++calls; }
  } count;
  const std::vector<float> p(8, 1.0f);
  std::vector<float> out(8);
  TimeDomainModel1(TestModel(), NoReflex(), kDt, p, out, count);
  EXPECT_EQ(count.calls, 7);
}

}  // namespace
}  // namespace korva
