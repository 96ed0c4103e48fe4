#include "render/report_overview.h"

#include <QImage>
#include <filesystem>

#include "core/common/numbers.h"
#include "render/picture.h"
#include "render/recipes.h"
#include "render/recording_overview.h"
#include "render/report_pages.h"

namespace korva::render {
namespace {

// The report's other pictures are the lower band of a client area this
// size; the overview is one of them.
constexpr int kClientWidth = 1000;
constexpr int kClientHeight = 680;

QString Html(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toHtmlEscaped();
}

QString Seconds(double s) {
  return QString::fromStdString(FormatFixed(s, 3)) + " s";
}

QString Facts(const RecordingShots& found) {
  const RecordingInfo& info = found.source.info;
  const double rate = info.rate > 0.0 ? info.rate : 1.0;
  const DetectionSummary& s = found.summary;
  const ShotOptions& o = found.options;
  QString html = "<p>" + Html(info.Description()) + "; channel " +
                 QString::number(found.source.channel) + ", " + Seconds(found.range.first / rate) +
                 " to " + Seconds(found.range.end / rate) + "; " +
                 Html(found.source.calibration.text) + ".<br>\n";
  html += QString::number(s.shots) + (s.shots == 1 ? " shot" : " shots") + " found; background " +
          (s.background_db ? QString::fromStdString(FormatFixed(*s.background_db, 1)) + " dB"
                           : QString("below -40 dB")) +
          ", threshold " + QString::fromStdString(FormatFixed(s.threshold_db, 1)) + " dB";
  if (s.peak_db) {
    html += ", largest pressure " + QString::fromStdString(FormatFixed(*s.peak_db, 1)) + " dB at " +
            Seconds(s.peak_time_s);
  }
  html += " (dB re 20 &micro;Pa). A shot starts " +
          QString::fromStdString(FormatShortest(o.threshold_db)) +
          " dB above the background and above " +
          QString::fromStdString(FormatShortest(o.min_peak_db)) + " dB; its window runs from " +
          QString::fromStdString(FormatShortest(o.pre_ms)) + " ms before to " +
          QString::fromStdString(FormatShortest(o.post_ms)) +
          " ms after its start; crossings within " +
          QString::fromStdString(FormatShortest(o.min_gap_ms)) +
          " ms of a louder start are its echoes.</p>\n";
  return html;
}

}  // namespace

OverviewSection DrawOverviewSection(const std::string& file, const RecordingShots& found) {
  OverviewSection section;
  section.file = file;
  section.facts = Facts(found);
  const std::string name = std::filesystem::path(file).filename().string();
  const OverviewInput input =
      OverviewOf(found, name + ", channel " + FormatInteger(found.source.channel));

  QImage image(kClientWidth, kClientHeight, QImage::Format_RGB32);
  Surface surface(image);
  PlotState state;
  Picture picture;
  picture.lower = {RecordingOverview(input)};
  picture.Render(surface, state);
  const plot::Layout& layout = state.layout;
  section.png = PngBytes(image.copy(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight));
  section.width = layout.FrameWidth;
  section.height = layout.FrameHeight;
  for (const OverviewMark& mark : input.marks) {
    const QRect area = OverviewMarkArea(state.frames[0], mark, kClientWidth, kClientHeight);
    section.marks.emplace_back(mark.number, area.translated(0, -layout.PlotTop));
  }
  return section;
}

QString OverviewHtml(const OverviewSection& section, const QString& source, int image_width,
                     const QString& map_name, const std::function<QString(int)>& link) {
  QString html = "<h2>Recording " + Html(section.file) + "</h2>\n" + section.facts;
  // Both sizes: the PDF's layout stretches a picture given a width alone.
  const int height = section.width > 0 ? section.height * image_width / section.width : 0;
  html += "<p><img src=\"" + source + "\" width=\"" + QString::number(image_width) +
          "\" height=\"" + QString::number(height) + "\" alt=\"\" usemap=\"#" + map_name +
          "\"><br>\nThe channel's lowest and highest pressure "
          "in each stretch of it; each shot marked at its peak (red) and numbered where there "
          "is room. A mark leads to its shot.</p>\n";
  const double scale = section.width > 0 ? double(image_width) / section.width : 1.0;
  html += "<map name=\"" + map_name + "\">\n";
  for (const auto& [number, area] : section.marks) {
    const auto at = [scale](int v) { return QString::number(RoundToInt(v * scale)); };
    html += "<area shape=\"rect\" coords=\"" + at(area.left()) + "," + at(area.top()) + "," +
            at(area.right()) + "," + at(area.bottom()) + "\" href=\"" + link(number) +
            "\" alt=\"shot " + QString::number(number) + "\" title=\"shot " +
            QString::number(number) + "\">\n";
  }
  return html + "</map>\n";
}

}  // namespace korva::render
