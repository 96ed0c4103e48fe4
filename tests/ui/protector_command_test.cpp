// The protector command in the window: the insertion-loss picture, the
// predicted waveform, the table line written back and the protected file.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>

#include "core/common/files.h"
#include "core/plot/marker.h"
#include "render/protector_plot.h"
#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

std::string Line(const std::string& text, int number) {
  std::size_t start = 0;
  for (int i = 1; i < number; ++i) start = text.find('\n', start) + 1;
  return text.substr(start, text.find('\n', start) - start);
}

using ProtectorCommandTest = WindowTest;

TEST_F(ProtectorCommandTest, SeededRecordDrawsPictureWritesTableAndFile) {
  OpenTestFile("SHOT1.KRV");
  const std::int32_t last_sample = window_->session().LastSample;
  ASSERT_EQ(window_->protector().ProtectorItems().size(), 1u);
  window_->protector().PrepareProtectorMenu();  // opening the submenu shows the grid
  ASSERT_TRUE(window_->StringGrid1()->isVisible());
  window_->protector().ProtectorItems().front()->trigger();
  Settle();
  ASSERT_TRUE(window_->document().last_protection.has_value())
      << ::testing::PrintToString(Informed());
  const ProtectResult& result = *window_->document().last_protection;
  EXPECT_TRUE(result.seeded);
  // The grid would cover the picture in the upper half.
  EXPECT_FALSE(window_->StringGrid1()->isVisible());
  EXPECT_TRUE(window_->workspace().PopupOn());
  EXPECT_FALSE(window_->Busy());
  // The loaded free-field waveform is left as it was.
  EXPECT_EQ(window_->session().LastSample, last_sample);

  const fs::path output = work_.path() / "SHOT1_FOAM PLUG_90.KRV";
  EXPECT_TRUE(fs::exists(output));
  const std::string table = ReadWholeFile(data_.path() / "HPD Atten.txt");
  const std::string line4 = Line(table, 8);
  EXPECT_EQ(line4.front(), '\t');
  EXPECT_NE(line4.find("Electro-acoustic Circuit Values\r"), std::string::npos);
  // The other record is copied unchanged.
  EXPECT_EQ(Line(table, 12), "CIRCUIT\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\r");

  const QImage& image = window_->canvas().Image();
  SaveCanvas("protector.png");
  const int half = image.height() / 2;
  // Marker centres in green where the core puts them (a curve may cross a few).
  const plot::Frame frame = render::ProtectorFrame(image.width(), image.height(), result.plot);
  int green_centres = 0;
  for (std::size_t i = 0; i < result.plot.marker_x.size(); ++i) {
    float x = static_cast<float>(result.plot.marker_x[i]);
    float y = static_cast<float>(result.plot.marker_y[i]);
    const plot::ScreenPoint p = plot::WorldToScreen(frame, x, y);
    if ((image.pixel(p.x, p.y) & 0xFFFFFFu) == 0x008000u) ++green_centres;
  }
  EXPECT_GE(green_centres * 2, static_cast<int>(result.plot.marker_x.size()));
  // Each caption in its colour just right of and below its anchor, the RMS
  // error just above its own (it is placed by its bottom).
  auto colour_in_box = [&](double x, double y, QRgb colour, int rows_down) {
    float wx = static_cast<float>(x), wy = static_cast<float>(y);
    const plot::ScreenPoint p = plot::WorldToScreen(frame, wx, wy);
    int count = 0;
    for (int row = std::min(p.y, p.y + rows_down); row < std::max(p.y, p.y + rows_down); ++row) {
      for (int column = p.x; column < p.x + 80; ++column) {
        if ((image.pixel(column, row) & 0xFFFFFFu) == colour) ++count;
      }
    }
    return count;
  };
  const int text_rows = 12;
  EXPECT_GT(colour_in_box(result.plot.label_x, result.plot.label_tops[0], 0x00FF00u, text_rows),
            20);
  EXPECT_GT(colour_in_box(result.plot.label_x, result.plot.label_tops[2], 0x0000FFu, text_rows),
            20);
  EXPECT_GT(colour_in_box(result.plot.label_x, result.plot.rms_y, 0xFF0000u, -text_rows), 20);
  // The red RMS text and the four curve colours in the upper half only.
  EXPECT_GT(CountColour(image, 0xFF0000u, 0, half), 20);
  EXPECT_EQ(CountColour(image, 0xFF0000u, half, image.height()), 0);
  EXPECT_GT(CountColour(image, 0x00FF00u, 0, half), 100);
  EXPECT_GT(CountColour(image, 0x0000FFu, 0, half), 50);
  // The predicted waveform in green over the free-field one.
  EXPECT_GT(CountColour(image, 0x008000u, half, image.height()), 50);

  // Opening the menu again brings the grid back over the picture: nothing of
  // the picture under it (its frequency caption) shows between the grid and
  // the pressure plot.
  window_->protector().PrepareProtectorMenu();
  ASSERT_TRUE(window_->StringGrid1()->isVisible());
  const int below_grid = window_->StringGrid1()->geometry().bottom() + 1;
  ASSERT_LT(below_grid, half);
  int dark = 0;
  for (int row = below_grid; row < half; ++row) {
    for (int column = image.width() / 3; column < 2 * image.width() / 3; ++column) {
      if (qGray(image.pixel(column, row)) < 128) ++dark;
    }
  }
  EXPECT_EQ(dark, 0);

  // The next run reads the seeded values back from the table.
  window_->protector().ProtectorItems().front()->trigger();
  Settle();
  ASSERT_TRUE(window_->document().last_protection.has_value());
  EXPECT_FALSE(window_->document().last_protection->seeded);
  EXPECT_EQ(window_->document().last_protection->circuit.PistonMass, result.circuit.PistonMass);
  EXPECT_NEAR(window_->document().last_protection->plot.rms_error, result.plot.rms_error, 1e-4);
}

TEST_F(ProtectorCommandTest, TableEditedSinceStartRefusesAndKeepsFiles) {
  OpenTestFile("SHOT1.KRV");
  std::string table = TestProtectorTable();
  table.replace(table.find("FOAM PLUG"), 9, "OTHER ONE");
  data_.Write("HPD Atten.txt", table);
  window_->protector().ProtectorItems().front()->trigger();
  Settle();
  EXPECT_FALSE(window_->document().last_protection.has_value());
  ASSERT_FALSE(Informed().empty());
  EXPECT_EQ(Informed().back(), "The protector table has changed; restart KORVA");
  EXPECT_EQ(ReadWholeFile(data_.path() / "HPD Atten.txt"), table);
  EXPECT_FALSE(fs::exists(work_.path() / "SHOT1_FOAM PLUG_90.KRV"));
  EXPECT_TRUE(window_->workspace().PopupOn());
  EXPECT_FALSE(window_->Busy());
}

TEST(InsertionLossCurves, CrossingCurvesKeepTheirColoursAndLeaveTheRangeCut) {
  InsertionLossPlot plot;
  plot.x_min = 1.0;
  plot.x_max = 4.5;
  for (int k = 0; k < kInsertionLossPoints; ++k) {
    const double x = plot.x_min + k * (plot.x_max - plot.x_min) / (kInsertionLossPoints - 1);
    plot.x.push_back(x);
    plot.total.push_back(-10.0 * (x - 1.0));        // crosses the other three
    plot.piston.push_back(-20.0);                   // flat
    plot.leak.push_back(-20.0 - 30.0 * (x - 1.0));  // leaves the range at the bottom
    plot.material.push_back(-50.0 + 3.0 * x);
  }
  QImage image(800, 600, QImage::Format_RGB32);
  image.fill(Qt::white);
  const plot::Frame frame = render::ProtectorFrame(image.width(), image.height(), plot);
  render::Surface surface(image);
  render::DrawInsertionLossCurves(surface, frame, plot);
  EXPECT_GT(CountColour(image, 0x00FF00u, 0, 300), 50);
  EXPECT_GT(CountColour(image, 0x808080u, 0, 300), 50);
  EXPECT_GT(CountColour(image, 0x0000FFu, 0, 300), 50);
  EXPECT_GT(CountColour(image, 0x000000u, 0, 300), 50);
  // Where curves cross, a pixel shows one of them, never a blend of two.
  int other = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y) & 0xFFFFFFu;
      if (c != 0xFFFFFFu && c != 0x00FF00u && c != 0x808080u && c != 0x0000FFu && c != 0u) ++other;
    }
  }
  EXPECT_EQ(other, 0);
  // Beyond -60 dB the curve is cut, not drawn along the bottom of the plot.
  float x = static_cast<float>(plot.x_max), y = -60.0f;
  const int bottom = plot::WorldToScreen(frame, x, y).y;
  EXPECT_LE(CountColour(image, 0x0000FFu, bottom, bottom + 1), 1);
}

}  // namespace
}  // namespace korva::testing
