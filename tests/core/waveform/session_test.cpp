#include "core/waveform/session.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/common/error.h"

namespace korva {
namespace {

TEST(Session, CapacityFollowsAvailableMemoryWithinFloorAndCeiling) {
  EXPECT_EQ(SampleCapacityFor(0), kMinSampleCapacity);
  EXPECT_EQ(SampleCapacityFor(4'000'000'000ull), 100'000'000);
  EXPECT_EQ(SampleCapacityFor(1ull << 40), kMaxSampleCapacity);
}

TEST(Session, ArraysHoldWhatWasWrittenAndEveryAccessIsChecked) {
  Session s(1000);
  EXPECT_EQ(s.Pressure.size(), 0);
  // Writing grows the array with zeros up to the capacity, and no further.
  s.Pressure[9] = 1.0f;
  EXPECT_EQ(s.Pressure.size(), 10);
  EXPECT_EQ(std::as_const(s.Pressure)[8], 0.0f);
  EXPECT_NO_THROW(s.Pressure.Range(990, 999));
  EXPECT_THROW(s.Pressure[1000] = 1.0f, RangeError);
  EXPECT_THROW(s.Pressure.Fill(0, 1000, 0.0f), RangeError);
  EXPECT_THROW(s.Pressure.Assign(std::vector<float>(1001)), RangeError);
  EXPECT_EQ(s.Pressure.size(), 1000);
  // A sample never written reads as 0; a view of it is refused.
  EXPECT_EQ(std::as_const(s.LoadedPressure)[999], 0.0f);
  EXPECT_THROW(std::as_const(s.LoadedPressure).Range(0, 0), RangeError);
  EXPECT_THROW(std::as_const(s.LoadedPressure)[1000], RangeError);
  EXPECT_THROW(s.LoadedPressure[-1], RangeError);
  EXPECT_TRUE(s.LoadedPressure.empty());
  s.Pressure.Truncate(5);
  EXPECT_EQ(s.Pressure.size(), 5);
  EXPECT_THROW(std::as_const(s.Pressure).Range(0, 5), RangeError);
  s.Pressure.Release();
  EXPECT_TRUE(s.Pressure.empty());
  EXPECT_THROW(s.Grid.Cell(3, 0), RangeError);
  EXPECT_THROW(s.Grid.Cell(0, 30), RangeError);
}

TEST(Session, CopiesCarryWrittenSamplesAndStayIndependent) {
  Session a(1 << 20);
  a.Pressure.Fill(0, 9, 2.0f);
  a.Pressure[100] = 5.0f;
  a.LastSample = 100;
  Session b = a;
  EXPECT_EQ(b.Pressure[9], 2.0f);
  EXPECT_EQ(b.Pressure[100], 5.0f);
  EXPECT_EQ(b.Pressure[101], 0.0f);
  b.Pressure[100] = 7.0f;
  EXPECT_EQ(a.Pressure[100], 5.0f);
}

TEST(Session, ExtremesAreTrueSampleValuesWhateverTheirSize) {
  Session s(1 << 20);
  s.LastSample = 2;
  s.Pressure[0] = 3.0f;
  s.Pressure[1] = -4.0f;
  s.Pressure[2] = 1.0f;
  UpdateExtremes(s);
  EXPECT_EQ(s.PeakPressure, 3.0f);
  EXPECT_EQ(s.MinPressure, -4.0f);
  // Unscaled 24-bit PCM well above any pressure sentinel.
  s.Pressure[0] = 5.0e6f;
  s.Pressure[1] = 2.0e6f;
  s.Pressure[2] = 8.0e6f;
  UpdateExtremes(s);
  EXPECT_EQ(s.PeakPressure, 8.0e6f);
  EXPECT_EQ(s.MinPressure, 2.0e6f);
  // No samples: the starting values come back.
  const Extremes none = FindExtremes(s.Pressure, -1, -1.0e10f, 1.0e10f);
  EXPECT_EQ(none.maximum, -1.0e10f);
  EXPECT_EQ(none.minimum, 1.0e10f);
}

}  // namespace
}  // namespace korva
