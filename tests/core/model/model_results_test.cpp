// The model is tuned for speed (vector code, a fast tangent, passes run side
// by side, threads, planned transforms, transfer functions in vector lanes);
// none of that may change what it computes. The recorded file holds its
// results: the hazard must stay within 1e-6 relative and every substep
// decision must stay the same (equal counts of passes and evaluations).
#include "tests/core/model/model_results.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace korva {
namespace {

const std::filesystem::path kSourceRoot =
    std::filesystem::path(KORVA_SOURCE_DATA_DIR).parent_path();

TEST(ModelResults, HazardsAndSubstepCountsStayAsRecorded) {
  const auto recorded = testing::ReadRecordedResults(kSourceRoot / "tests/data/model_results.txt");
  ASSERT_EQ(recorded.size(), 16u);
  for (const testing::RecordedResult& r : recorded) {
    SCOPED_TRACE(r.waveform + " " + ListenerName(r.listener));
    const HazardRunResult run = testing::RunRecordedCase(r, kSourceRoot);
    EXPECT_LE(testing::RelativeDifference(run.cochlea.TotalHazardARU, r.hazard),
              testing::kRecordedHazardTolerance)
        << "hazard " << run.cochlea.TotalHazardARU << ", recorded " << r.hazard;
    EXPECT_EQ(run.middle_ear.derivative_evaluations, r.derivative_evaluations);
    EXPECT_EQ(run.middle_ear.passes, r.passes);
    EXPECT_EQ(run.middle_ear.max_substeps, r.max_substeps);
  }
}

}  // namespace
}  // namespace korva
