// The canvas image: XOR lines erase themselves.
#include "ui/canvas.h"

#include <gtest/gtest.h>

namespace korva::ui {
namespace {

TEST(Canvas, XorLineShowsItsColourOnWhiteAndDrawingItTwiceRestoresEveryPixel) {
  Canvas canvas;
  canvas.resize(200, 100);
  canvas.FollowWidgetSize();
  ASSERT_EQ(canvas.Image().size(), QSize(200, 100));
  {
    CanvasPainter painter(canvas);
    painter.setPen(QPen(Qt::blue, 0));
    painter.drawLine(0, 50, 199, 50);
  }
  const QImage before = canvas.Image().copy();
  canvas.XorLine(QPoint(100, 0), QPoint(100, 99), Qt::red);
  EXPECT_EQ(canvas.Image().pixel(100, 10), qRgb(255, 0, 0));
  EXPECT_NE(canvas.Image(), before);
  canvas.XorLine(QPoint(100, 0), QPoint(100, 99), Qt::red);
  EXPECT_EQ(canvas.Image(), before);
}

}  // namespace
}  // namespace korva::ui
