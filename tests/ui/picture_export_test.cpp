// File > "Export picture...": the picture on the screen written again as
// PNG, SVG or PDF, each opened by its own reader.
#include <gtest/gtest.h>

#include <QAction>
#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QPolygon>
#include <QRegularExpression>
#include <QStatusBar>
#include <QSvgGenerator>
#include <QXmlStreamReader>
#include <filesystem>
#include <map>

#include "core/common/files.h"
#include "render/plot_painter.h"
#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

// Element names of an SVG file and how often each occurs; empty when the
// file is not well-formed XML.
std::map<QString, int> SvgElements(const fs::path& file) {
  const std::string text = ReadWholeFile(file);
  QXmlStreamReader xml(QByteArray::fromStdString(text));
  std::map<QString, int> elements;
  while (!xml.atEnd()) {
    if (xml.readNext() == QXmlStreamReader::StartElement) ++elements[xml.name().toString()];
  }
  if (xml.hasError()) return {};
  return elements;
}

TEST(SvgExport, LinesLeavingTheFrameAreCutAtItsEdgesAsOnTheScreen) {
  // Qt's SVG generator ignores the clip rectangle: a zoomed trace would run
  // over the axes and their labels unless the lines are cut by hand.
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(QSize(200, 200));
  svg.setViewBox(QRect(0, 0, 200, 200));
  const QRect box(50, 50, 100, 100);  // edges 50 and 149 included
  {
    QPainter painter(&svg);
    painter.setClipRect(box);
    // In, out at the bottom, back in across the top edge, out at the right.
    const QPolygon line({{0, 100}, {100, 100}, {100, 190}, {120, 60}, {190, 60}});
    render::DrawPolylineWithin(painter, line, box);
    render::DrawLineWithin(painter, {0, 0}, {199, 199}, box);
    render::DrawLineWithin(painter, {0, 10}, {199, 10}, box);  // wholly outside
  }
  QXmlStreamReader xml(buffer.data());
  const QRegularExpression number("-?[0-9]+(\\.[0-9]+)?");
  std::vector<double> coordinates;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    for (const QXmlStreamAttribute& attribute : xml.attributes()) {
      const QString name = attribute.name().toString();
      if (name != "points" && name != "d" && !name.startsWith('x') && !name.startsWith('y')) {
        continue;
      }
      for (auto match = number.globalMatch(attribute.value()); match.hasNext();) {
        coordinates.push_back(match.next().captured().toDouble());
      }
    }
  }
  ASSERT_FALSE(xml.hasError());
  // The polyline's three pieces and the diagonal: at least 2 points each.
  ASSERT_GE(coordinates.size(), 16u);
  for (const double c : coordinates) {
    EXPECT_GE(c, 50.0 - 1e-6);
    EXPECT_LE(c, 149.0 + 1e-6);
  }
}

TEST_F(WindowTest, ExportPictureWritesEachFormatWithoutTouchingTheScreen) {
  OpenTestFile("SHOT.KRV", 4096, 2000.0);
  const QImage before = window_->canvas().Image().copy();
  QAction* item = window_->findChild<QAction*>("ExportPicture1");
  ASSERT_NE(item, nullptr);

  // PNG at a chosen size: the whole plot drawn again for that size, with the
  // grid over the upper half only the lower half is kept.
  const fs::path png = work_.path() / "shot.png";
  chooser_.Choose(png);
  prompter_.Text("1600x900");
  item->trigger();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  QImageReader reader(QString::fromStdString(png.string()));
  const QImage picture = reader.read();
  ASSERT_FALSE(picture.isNull()) << reader.errorString().toStdString();
  EXPECT_EQ(picture.size(), QSize(1600, 450));
  EXPECT_GT(CountColour(picture, 0x0000FFu, 0, picture.height()), 300);   // the trace
  EXPECT_GT(CountColour(picture, 0x000000u, 0, picture.height()), 3000);  // axes and labels

  // SVG: lines and text, not an embedded screenshot.
  const fs::path svg = work_.path() / "shot.svg";
  chooser_.Choose(svg);
  item->trigger();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const std::map<QString, int> elements = SvgElements(svg);
  ASSERT_FALSE(elements.empty()) << "not well-formed XML";
  EXPECT_EQ(elements.count("svg"), 1u);
  EXPECT_GT(elements.count("polyline") + elements.count("path"), 0u);
  EXPECT_GT(elements.count("text") ? elements.at("text") : 0, 10);  // tick labels, captions
  EXPECT_EQ(elements.count("image"), 0u);
  EXPECT_NE(ReadWholeFile(svg).find("TIME IN MILLISECONDS"), std::string::npos);

  const fs::path pdf = work_.path() / "shot.pdf";
  chooser_.Choose(pdf);
  item->trigger();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  const std::string pdf_bytes = ReadWholeFile(pdf);
  EXPECT_EQ(pdf_bytes.rfind("%PDF-", 0), 0u);
  EXPECT_NE(pdf_bytes.find("%%EOF", pdf_bytes.size() - 16), std::string::npos);

  EXPECT_EQ(window_->canvas().Image(), before);
  EXPECT_NE(window_->statusBar()->currentMessage().toStdString().find("shot.pdf"),
            std::string::npos);
}

TEST_F(WindowTest, ExportPictureRefusesAnUnknownSuffixAndABadSizeWritingNothing) {
  OpenTestFile("SHOT.KRV", 4096, 2000.0);
  QAction* item = window_->findChild<QAction*>("ExportPicture1");
  chooser_.Choose(work_.path() / "shot.bmp");
  item->trigger();
  Settle();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Errors().back().find(".png, .svg or .pdf"), std::string::npos);

  chooser_.Choose(work_.path() / "shot.png");
  prompter_.Text("huge");
  item->trigger();
  Settle();
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_NE(Errors().back().find("no size"), std::string::npos);
  EXPECT_FALSE(fs::exists(work_.path() / "shot.bmp"));
  EXPECT_FALSE(fs::exists(work_.path() / "shot.png"));
}

}  // namespace
}  // namespace korva::testing
