#include "core/plot/marker.h"

#include <gtest/gtest.h>

namespace korva::plot {
namespace {

TEST(PlotMarker, SizeFollowsPlotWidthAndShapesAreClosedAroundTheCentre) {
  EXPECT_EQ(MarkerSize(650), 5);
  EXPECT_EQ(MarkerSize(10), 1);  // never vanishes on a tiny plot

  const ScreenPoint centre{100, 200};
  // 1300 pixels wide: n = 10.
  const std::vector<ScreenPoint> triangle = MarkerCorners(3, centre, 1300);
  ASSERT_EQ(triangle.size(), 4u);
  EXPECT_EQ(triangle.front(), triangle.back());
  EXPECT_EQ(triangle[0], (ScreenPoint{100, 194}));  // apex 0.6 n above
  // The base lies below the centre, symmetric about it.
  EXPECT_EQ(triangle[1].y, triangle[2].y);
  EXPECT_GT(triangle[1].y, centre.y);
  EXPECT_EQ(triangle[1].x - centre.x, centre.x - triangle[2].x);

  const std::vector<ScreenPoint> square = MarkerCorners(4, centre, 1300);
  ASSERT_EQ(square.size(), 5u);
  EXPECT_EQ(square[0], (ScreenPoint{96, 196}));  // upper left, 0.707 n / 2 x 1.2
  EXPECT_EQ(square[2], (ScreenPoint{104, 204}));

  const std::vector<ScreenPoint> hexagon = MarkerCorners(6, centre, 1300);
  ASSERT_EQ(hexagon.size(), 7u);
  EXPECT_EQ(hexagon[0], (ScreenPoint{100, 195}));
  EXPECT_EQ(hexagon[3], (ScreenPoint{100, 205}));
}

}  // namespace
}  // namespace korva::plot
