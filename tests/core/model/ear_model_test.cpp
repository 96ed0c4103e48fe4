#include "core/model/ear_model.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/common/error.h"
#include "core/model/reflex.h"
#include "tests/core/model/model_test_support.h"

namespace korva {
namespace {

using testing::ModelTextWith;
using testing::TestModelPath;

// Expects a FormatError whose message names the file and `line`.
void ExpectRefused(const std::string& text, int line) {
  try {
    ParseEarModelText(text, "ear.txt");
    FAIL() << "accepted a file that should be refused at line " << line;
  } catch (const FormatError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("ear.txt"), std::string::npos) << message;
    EXPECT_NE(message.find("line " + std::to_string(line) + ":"), std::string::npos) << message;
  }
}

TEST(EarModelFile, ReadsTheLeadingNumberOfEachLineAndAppliesTheLoadChanges) {
  const std::string text = ReadWholeFile(TestModelPath());
  const EarModelParameters p = ParseEarModelText(text, "test");
  EXPECT_EQ(p.P[1], 1.0f);
  EXPECT_EQ(p.P[21], 0.55f);
  EXPECT_EQ(p.Places, 23);
  // The reflex factors get 0.001 added on load.
  EXPECT_FLOAT_EQ(p.P[65], 10.0f);
  EXPECT_FLOAT_EQ(p.P[66], 4.0f);
  // Protector constants: reciprocals of 81, 83, 91 and the kept values.
  EXPECT_FLOAT_EQ(p.P[81], 0.5f);
  EXPECT_FLOAT_EQ(p.P[83], 0.25f);
  EXPECT_FLOAT_EQ(p.P[91], 0.1f);
  EXPECT_FLOAT_EQ(p.P81PlusP83, 0.75f);
  EXPECT_FLOAT_EQ(p.InvP85, 0.2f);
  EXPECT_FLOAT_EQ(p.InvP82PlusP84, 500.0f);
  // CR LF line ends read the same as LF.
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(ParseEarModelText(crlf, "test").P, p.P);
  // A zero protector divisor does not fail the load.
  const EarModelParameters zero = ParseEarModelText(ModelTextWith(81, "0"), "test");
  EXPECT_EQ(zero.P[81], 0.0f);
  EXPECT_FLOAT_EQ(zero.P81PlusP83, 0.25f);
}

TEST(EarModelFile, RefusesBadFilesNamingTheLine) {
  const std::string good = ReadWholeFile(TestModelPath());
  // Short file.
  ExpectRefused(good.substr(0, good.find("P60") - 12), 60);
  // A line without a leading number; values the equations would divide by
  // zero with; a number of places that is not whole in 1..23.
  const std::pair<int, const char*> bad[] = {{12, "compliance"}, {37, "0"},   {38, "0.4"},
                                             {6, "0"},           {46, "0"},   {64, "-0.01"},
                                             {59, "24"},         {59, "2.5"}, {59, "0"}};
  for (const auto& [line, value] : bad) ExpectRefused(ModelTextWith(line, value), line);
  // A missing file is an IoError naming it.
  testing::TempDir dir;
  try {
    ReadEarModelFile(dir / "none.txt");
    FAIL();
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find("none.txt"), std::string::npos);
  }
}

TEST(EarModelConstants, UniformCanalGivesEqualSectionsInsteadOf0Over0) {
  // P10 = P9 (no flare) or no flaring length: every section alike and finite.
  for (const auto& [line, value] : {std::pair{10, "0.44"}, std::pair{8, "0"}}) {
    const EarModelConstants c =
        DeriveEarModelConstants(ParseEarModelText(ModelTextWith(line, value), "test"));
    for (int i = 1; i <= 16; ++i) {
      ASSERT_TRUE(std::isfinite(c.K[i])) << "line " << line << " section " << i;
      EXPECT_NEAR(c.K[i], c.K[1], 1e-6 * c.K[1]) << "line " << line << " section " << i;
    }
  }
}

TEST(EarModelConstants, FlaringCanalSoftensTowardsTheEntranceAndTheStapesSpringStartsAtOne) {
  const EarModelConstants& c = testing::TestModel();
  // The uniform inner sections are equal; the flaring ones hold more air.
  EXPECT_EQ(c.K[1], c.K[2]);
  for (int i = 12; i <= 16; ++i) EXPECT_LT(c.K[i], c.K[i - 1]) << "section " << i;
  // At rest the stapes spring factor is 1; displaced it hardens, capped.
  EXPECT_NEAR(StapesSpringFactor(c, 0.0), 1.0, 1e-12);
  const double per_um = 1.0 / c.OutputScale;  // Q2 for 1 um of stapes displacement
  EXPECT_GT(StapesSpringFactor(c, 4.0 * per_um), 1.5);
  EXPECT_GT(StapesSpringFactor(c, 100.0 * per_um), 100.0);
  EXPECT_TRUE(std::isfinite(StapesSpringFactor(c, 1e6 * per_um)));
}

TEST(ReflexTiming, WarnedStartsBeforeTheWaveformAndUnwarnedAfterTheDelay) {
  const float dt = 5e-6f;
  const ReflexTiming warned = ComputeReflexTiming(kWarnedReflexOffset, dt, 0.011f);
  EXPECT_FLOAT_EQ(warned.ReflexOnset, -0.045f);
  EXPECT_EQ(warned.ReflexOnsetSample, -9000);
  EXPECT_LT(warned.ReflexStart, 0.02f);  // the reflex is almost fully on at the first sample
  const ReflexTiming unwarned = ComputeReflexTiming(0.009f, dt, 0.011f);
  // Onset 14 ms: k0 is the last sample at or before it (about 2800).
  const double onset = unwarned.ReflexOnset;
  EXPECT_NEAR(onset, 0.014, 1e-8);
  EXPECT_LE(unwarned.ReflexOnsetSample * double{dt}, onset);
  EXPECT_GT((unwarned.ReflexOnsetSample + 1) * double{dt}, onset);
  EXPECT_GE(unwarned.ReflexStart, 1.0f);
  EXPECT_LT(unwarned.ReflexStart, 1.001f);
  EXPECT_EQ(unwarned.ReflexFactor, unwarned.ReflexStart);
}

}  // namespace
}  // namespace korva
