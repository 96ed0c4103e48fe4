// The canvas image: XOR lines erase themselves, snapshots restore.
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

TEST(Canvas, RestoreFormBringsBackTheSnapshotAndResizingKeepsThePicture) {
  Canvas canvas;
  canvas.resize(50, 40);
  canvas.FollowWidgetSize();
  canvas.Image().setPixel(5, 5, qRgb(1, 2, 3));
  canvas.SaveForm();
  canvas.ClearCanvas();
  EXPECT_EQ(canvas.Image().pixel(5, 5), qRgb(255, 255, 255));
  canvas.RestoreForm();
  EXPECT_EQ(canvas.Image().pixel(5, 5), qRgb(1, 2, 3));

  canvas.resize(80, 60);
  canvas.FollowWidgetSize();
  EXPECT_EQ(canvas.Image().size(), QSize(80, 60));
  EXPECT_EQ(canvas.Image().pixel(5, 5), qRgb(1, 2, 3));
  EXPECT_EQ(canvas.Image().pixel(70, 50), qRgb(255, 255, 255));
}

}  // namespace
}  // namespace korva::ui
