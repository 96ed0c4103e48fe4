#include "core/model/cochlea.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/common/error.h"
#include "core/common/pool.h"
#include "tests/core/model/model_test_support.h"

namespace korva {
namespace {

using testing::TestModel;

TEST(FftLength, IsThePowerOfTwoNearestOnALogScale) {
  EXPECT_EQ(FftLengthFor(3000), 4096);  // log2 = 11.55
  EXPECT_EQ(FftLengthFor(2500), 2048);  // log2 = 11.29: the record is cut
  EXPECT_EQ(FftLengthFor(2), 2);
  EXPECT_EQ(FftLengthFor(1482910), 1 << 20);
  EXPECT_EQ(FftLengthFor(1482911), 1 << 21);
}

TEST(HalfCycleRule, OnlyClosedHalfCyclesAboveTheThresholdCount) {
  // Scale 2, threshold 1, exponent 2: a displacement peak d counts (2d - 1)^2.
  // Peak exactly at the threshold: nothing.
  EXPECT_EQ(ScanPlace(std::vector<float>{0.0f, 0.25f, 0.5f, 0.0f}, 2.0, 1.0f, 2.0f).hazard, 0.0f);
  // Just above: (peak - threshold)^exponent.
  const float d = 0.5f + 1e-3f;
  const float expected = static_cast<float>(std::pow(2.0 * d - 1.0, 2.0));
  EXPECT_FLOAT_EQ(ScanPlace(std::vector<float>{0.0f, d, -0.1f}, 2.0, 1.0f, 2.0f).hazard, expected);
  // Two half-cycles, the largest value of each counting once; a third still
  // open at the end of the record adds nothing.
  const PlaceScan scan =
      ScanPlace(std::vector<float>{0.2f, 1.0f, 0.7f, 0.0f, -3.0f, 2.0f, 1.5f, -1.0f, 5.0f, 4.0f},
                2.0, 1.0f, 2.0f);
  EXPECT_FLOAT_EQ(scan.hazard, 1.0f + 9.0f);
  EXPECT_EQ(scan.maximum, 5.0f);
  EXPECT_EQ(scan.minimum, -3.0f);
  // Exponent other than 2.
  EXPECT_FLOAT_EQ(ScanPlace(std::vector<float>{3.0f, 0.0f}, 1.0, 1.0f, 1.5f).hazard,
                  static_cast<float>(std::pow(2.0, 1.5)));
}

// A session holding a stapes displacement, as the middle ear leaves it.
Session StapesSession(const std::vector<float>& stapes) {
  Session s(1 << 21);
  s.LastSample = static_cast<std::int32_t>(stapes.size()) - 1;
  s.SampleInterval = 5e-6f;
  for (std::size_t i = 0; i < stapes.size(); ++i) {
    s.StapesDisplacement[static_cast<std::int64_t>(i)] = stapes[i];
    s.Pressure[static_cast<std::int64_t>(i)] = 100.0f * stapes[i];
  }
  return s;
}

TEST(CochlearModel, ATonePeaksAtItsPlaceAndFillsTheMovieAlsoWithThePlacesSideBySide) {
  // 2 kHz stapes tone of 1 um: the place whose CF is nearest 2 kHz is worst.
  std::vector<float> stapes(3000);
  for (std::size_t i = 0; i < stapes.size(); ++i) {
    stapes[i] = static_cast<float>(std::sin(2.0 * 3.14159265358979 * 2000.0 * i * 5e-6));
  }
  Session s = StapesSession(stapes);
  s.PeakPressure = 100.0f;
  MovieBuffer movie(4096 + 4);
  const CochlearResult r = CochlearModel(TestModel(), s, &movie);
  EXPECT_EQ(r.FftLength, 4096);  // 3000 samples, zero-padded
  ASSERT_GT(r.TotalHazardARU, 0.0f);
  const double cf = CharacteristicFrequency(TestModel().params,
                                            PlaceDistance(TestModel().params, r.WorstSection));
  EXPECT_LT(std::fabs(std::log2(cf / 2000.0)), 0.3) << "worst place " << r.WorstSection;
  for (int c = 1; c <= r.Places; ++c) EXPECT_LE(r.SectionHazard[c], r.TotalHazardARU);
  // Movie: pressure and stapes columns, zero past the record; header rows.
  EXPECT_EQ(movie.At(4 + 10, 1), s.Pressure[10]);
  EXPECT_EQ(movie.At(4 + 10, 2), stapes[10]);
  EXPECT_EQ(movie.At(4 + 3500, 2), 0.0f);
  EXPECT_EQ(movie.At(2, 1), 100.0f);
  EXPECT_FLOAT_EQ(movie.At(2, 2), 1.0f);
  EXPECT_EQ(movie.At(1, r.WorstSection + 2), r.TotalHazardARU);
  // The last place's displacement is left in StapesDisplacement and the movie.
  EXPECT_EQ(movie.At(4 + 100, r.Places + 2), s.StapesDisplacement[100]);
  EXPECT_THROW(movie.At(0, 26), RangeError);
  // Replayed sample by sample, as the movie does, every place arrives at the
  // hazard the cochlea found.
  std::vector<HalfCycleHazard> running = PlaceHazards(TestModel().params, r.Places);
  for (std::int32_t i = 0; i < r.FftLength; ++i) {
    for (int c = 1; c <= r.Places; ++c) running[c - 1].Add(movie.At(i + 4, c + 2));
  }
  for (int c = 1; c <= r.Places; ++c) EXPECT_EQ(running[c - 1].Hazard(), r.SectionHazard[c]) << c;

  // The places computed side by side on a pool give the same run.
  Session again = StapesSession(stapes);
  again.PeakPressure = 100.0f;
  MovieBuffer movie_again(4096 + 4);
  ThreadPool pool(3);
  NoProgress none;
  const CochlearResult p = CochlearModel(TestModel(), again, &movie_again, none, &pool);
  EXPECT_EQ(p.SectionHazard, r.SectionHazard);
  EXPECT_EQ(p.WorstSection, r.WorstSection);
  for (std::int32_t row = 0; row < movie.rows(); ++row) {
    for (int column = 1; column <= MovieBuffer::kColumns; ++column) {
      ASSERT_EQ(movie_again.At(row, column), movie.At(row, column)) << row << " " << column;
    }
  }
  for (std::int32_t i = 0; i < r.FftLength; ++i)
    ASSERT_EQ(again.StapesDisplacement[i], s.StapesDisplacement[i]);
}

TEST(CochlearModel, SilenceAndSamplesBeyondTheTransformLengthGiveNoHazard) {
  // 2,500 samples analyse as 2,048: a burst in the last 452 samples is ignored.
  std::vector<float> stapes(2500, 0.0f);
  Session quiet = StapesSession(stapes);
  const CochlearResult silent = CochlearModel(TestModel(), quiet, nullptr);
  EXPECT_EQ(silent.TotalHazardARU, 0.0f);
  EXPECT_EQ(silent.WorstSection, 1);
  for (int c = 1; c <= silent.Places; ++c) EXPECT_EQ(silent.SectionHazard[c], 0.0f);
  for (std::size_t i = 2100; i < 2400; ++i) {
    stapes[i] = static_cast<float>(10.0 * std::sin(0.5 * static_cast<double>(i)));
  }
  Session loud = StapesSession(stapes);
  const CochlearResult r = CochlearModel(TestModel(), loud, nullptr);
  EXPECT_EQ(r.FftLength, 2048);
  EXPECT_EQ(r.TotalHazardARU, 0.0f);
}

TEST(PlaceTable, HasTheExactColumns) {
  CochlearResult r;
  r.Places = 3;
  r.SectionHazard[1] = 0.0f;
  r.SectionHazard[2] = 12.345678f;
  r.SectionHazard[3] = 1234.5f;
  EarModelParameters p = TestModel().params;
  p.Places = 3;
  EXPECT_EQ(PlaceTableText(p, r),
            "BIndex Freq(kHz) Hazard(AHU) Distance(cm)\r\n"
            "   1    14.39      0.00000      0.300\r\n"
            "   2     2.51     12.34568      1.450\r\n"
            "   3     0.44   1234.50000      2.600\r\n");
}

}  // namespace
}  // namespace korva
