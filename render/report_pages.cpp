#include "render/report_pages.h"

#include <QBuffer>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPolygon>
#include <QTextDocument>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <vector>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/model/hazard.h"
#include "core/plot/marker.h"
#include "render/movie_frames.h"
#include "render/plot_painter.h"
#include "render/recipes.h"

namespace korva::render {
namespace {

// Every picture is a band of the window's layout: the window's client area
// is twice as high, the plot its lower half.
constexpr int kPictureWidth = 1000;
constexpr int kPictureHeight = 340;

constexpr plot::Rgb kGreen{0, 128, 0};

// KRV text is 8-bit: valid UTF-8 as it is, anything else read as Latin-1.
QString Text(const std::string& text) {
  const QString utf8 = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (!utf8.contains(QChar::ReplacementCharacter)) return utf8;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString Html(const std::string& text) {
  return Text(text).toHtmlEscaped();
}

QString Fixed(const std::optional<double>& value, int decimals) {
  return value ? QString::fromStdString(FormatFixed(*value, decimals)) : QString("n/a");
}

QString Allowed(const std::optional<double>& allowed) {
  return allowed ? QString::fromStdString(FormatFixed(*allowed, 1)) : QString("unlimited");
}

QString FileName(const std::string& path) {
  return Html(std::filesystem::path(path).filename().string());
}

QPoint ScreenOf(const plot::Frame& frame, double x, double y) {
  float wx = static_cast<float>(x);
  float wy = static_cast<float>(y);
  const plot::ScreenPoint p = plot::WorldToScreen(frame, wx, wy);
  return {p.x, p.y};
}

// `picture` drawn on a client area of the report's size; the band of
// `layout` kept as PNG bytes.
QByteArray BandPng(const Picture& picture, PlotState state, const plot::Layout& layout) {
  QImage image(kPictureWidth, 2 * kPictureHeight, QImage::Format_RGB32);
  Surface surface(image);
  picture.Render(surface, state);
  return PngBytes(image.copy(0, layout.PlotTop, layout.FrameWidth, layout.FrameHeight));
}

plot::Layout LowerBand() {
  return plot::PressureBandLayout(kPictureWidth, 2 * kPictureHeight);
}

// Coloured lines of text right-aligned at the top right of the plot.
void Legend(QPainter& painter, const plot::Layout& layout,
            const std::vector<std::pair<plot::Rgb, QString>>& lines) {
  const int right = layout.PlotLeft + layout.PlotWidth - layout.PlotWidth / 100;
  int y = layout.PlotTop + layout.FrameHeight / 6;
  const int step = QFontMetrics(painter.font()).height();
  for (const auto& [colour, text] : lines) {
    painter.setPen(ToQColor(colour));
    LabelOverOut(painter, right, y, text, 2);
    y += step;
  }
}

// Samples first..last of the session's waveform as a waveform of their own,
// shown at their original times.
Session Slice(const Session& session, std::int32_t first, std::int32_t last) {
  Session slice(kMinSampleCapacity);
  const std::span<const float> samples = session.Pressure.Range(first, last);
  std::copy(samples.begin(), samples.end(), slice.Pressure.Range(0, last - first).begin());
  slice.LastSample = last - first;
  slice.SampleInterval = session.SampleInterval;
  slice.SampleRate = session.SampleRate;
  slice.StartTime = static_cast<float>(first * double{session.SampleInterval});
  slice.EndTime = static_cast<float>(last * double{session.SampleInterval});
  slice.WaveformTitle = session.WaveformTitle;
  UpdateExtremes(slice);
  // Room above and below the trace for the peak's marker, whatever its sign.
  const float span = slice.PeakPressure - slice.MinPressure;
  slice.PeakPressure += 0.08f * span;
  slice.MinPressure -= 0.08f * span;
  return slice;
}

// The peak, the A-duration (on the zero line) and the B-duration (from the
// first to the last sample within 20 dB of the peak, with the +-P/10
// levels) of `shot` marked over its pressure plot.
Layer ImpulseMarks(const ShotReport& shot) {
  return [d = shot.descriptors, origin = shot.interval.first * double{shot.dt} * 1000.0](
             Surface& image, PlotState& state) {
    const plot::Frame& frame = state.frames[0];
    const double peak_kpa = d.peak_pa / 1000.0;
    SurfacePainter paint(image);
    QPainter& painter = *paint;
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (d.b_start_ms && d.b_end_ms) {
      const double b0 = origin + *d.b_start_ms;
      const double b1 = origin + *d.b_end_ms;
      const double tenth = std::fabs(peak_kpa) / 10.0;
      painter.setPen(QPen(ToQColor(kGreen), 1, Qt::DashLine));
      painter.drawLine(ScreenOf(frame, b0, tenth), ScreenOf(frame, b1, tenth));
      painter.drawLine(ScreenOf(frame, b0, -tenth), ScreenOf(frame, b1, -tenth));
      painter.setPen(QPen(ToQColor(kGreen), 2));
      painter.drawLine(ScreenOf(frame, b0, frame.PlotYMin), ScreenOf(frame, b0, frame.PlotYMax));
      painter.drawLine(ScreenOf(frame, b1, frame.PlotYMin), ScreenOf(frame, b1, frame.PlotYMax));
    }
    if (d.a_start_ms && d.a_end_ms) {
      painter.setPen(QPen(ToQColor(plot::kRed), 3));
      painter.drawLine(ScreenOf(frame, origin + *d.a_start_ms, 0.0),
                       ScreenOf(frame, origin + *d.a_end_ms, 0.0));
    }
    if (d.peak_db) {
      const QPoint at = ScreenOf(frame, origin + d.peak_time_ms, peak_kpa);
      QPolygon marker;
      for (const plot::ScreenPoint& c :
           plot::MarkerCorners(3, {at.x(), at.y()}, 2 * state.layout.PlotWidth)) {
        marker.append(QPoint(c.x, c.y));
      }
      painter.setPen(QPen(ToQColor(plot::kRed), 1));
      painter.setBrush(ToQColor(plot::kRed));
      painter.drawPolygon(marker);
    }
  };
}

// The pressure-time plot of samples first..last with the impulse marked.
QByteArray PressurePicture(const ShotReport& shot, const Session& session, std::int32_t first,
                           std::int32_t last) {
  Session slice = Slice(session, first, last);
  PlotState state;
  state.TraceCount = 1;
  Picture picture;
  if (auto plot = NextPressurePlot(slice, state, kPictureWidth, 2 * kPictureHeight)) {
    picture.lower = {PressurePlot(std::move(*plot)), ImpulseMarks(shot)};
  }
  return BandPng(picture, state, LowerBand());
}

// The interval around the impulse: its A- and B-durations with a fifth of
// their span on either side. Empty when that is most of the interval anyway.
std::optional<Selection> CloseUp(const ShotReport& shot) {
  const ImpulseDescriptors& d = shot.descriptors;
  if (!d.a_start_ms || !d.b_start_ms) return std::nullopt;
  const double ms = double{shot.dt} * 1000.0;
  const double start = std::min(*d.a_start_ms, *d.b_start_ms) / ms;
  const double end = std::max(*d.a_end_ms, *d.b_end_ms) / ms;
  const double margin = std::max(0.2 * (end - start), 8.0);
  const std::int32_t length = shot.interval.last - shot.interval.first;
  const auto first = static_cast<std::int32_t>(std::max(0.0, std::floor(start - margin)));
  const auto last = static_cast<std::int32_t>(std::min<double>(length, std::ceil(end + margin)));
  if (last - first > length / 2) return std::nullopt;
  return Selection{shot.interval.first + first, shot.interval.first + last};
}

QByteArray SpectrumPicture(const ShotReport& shot) {
  // The window's scale ends at the highest band, where the title stands:
  // a little room above it keeps them apart.
  auto spectrum = std::make_shared<Leq300msSpectrum>(*shot.spectrum);
  spectrum->PlotYMax += 0.12f * (spectrum->PlotYMax - spectrum->PlotYMin);
  Picture picture;
  picture.upper = {Spectrum(std::move(spectrum), shot.title, true)};
  return BandPng(picture, PlotState{}, plot::SpectrumBandLayout(kPictureWidth, 2 * kPictureHeight));
}

// The hazard of every cochlear place for both listeners against the
// distance from the stapes.
Layer PlaceHazards(const ShotReport& shot) {
  return [&shot](Surface& image, PlotState&) {
    const std::vector<double>& x = shot.place_distance_cm;
    float top = 0.0f;
    for (const auto& run : shot.hazard) {
      if (run) top = std::max(top, run->cochlea.TotalHazardARU);
    }
    if (!(top > 0.0f)) top = 1.0f;
    const plot::Layout layout = plot::PressureBandLayout(kPictureWidth, 2 * kPictureHeight);
    float x0 = static_cast<float>(x.front());
    float x1 = static_cast<float>(x.back());
    if (!(x1 > x0)) x1 = x0 + 1.0f;
    // Room above the curves for the title and the legend.
    const float y_max = 1.45f * top;
    const plot::Frame frame = plot::FrameOver(layout, x0, x1, 0.0f, y_max);
    plot::AxesStyle style;
    style.XTickStep = plot::NiceStep((x1 - x0) / 25.0f);
    style.YTickStep = plot::NiceStep(y_max / 30.0f);
    style.XTickLength = plot::XTickLengthFor(layout);
    style.YTickLength = plot::YTickLengthFor(layout);
    style.XCaption = kDistanceCaption;
    style.YCaption = kAruCaption;
    style.Title = shot.title;

    SurfacePainter paint(image);
    QPainter& painter = *paint;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(PlotFont(image.width(), image.height()));
    PlotLinearAxes(painter, plot::PlanLinearAxes(frame, layout, style));
    std::vector<std::pair<plot::Rgb, QString>> legend;
    const std::pair<Listener, plot::Rgb> traces[] = {{Listener::Warned, plot::kBlue},
                                                     {Listener::Unwarned, plot::kRed}};
    for (const auto& [listener, colour] : traces) {
      const auto& run = shot.Run(listener);
      if (!run) continue;
      QPolygon line;
      for (std::size_t c = 0; c < x.size(); ++c) {
        line.append(ScreenOf(frame, x[c], run->cochlea.SectionHazard[c + 1]));
      }
      painter.setPen(QPen(ToQColor(colour), 2));
      painter.drawPolyline(line);
      painter.setPen(QPen(ToQColor(colour), 1));
      for (const QPoint& p : line) {
        QPolygon marker;
        for (const plot::ScreenPoint& c : plot::MarkerCorners(listener == Listener::Warned ? 4 : 3,
                                                              {p.x(), p.y()}, layout.PlotWidth)) {
          marker.append(QPoint(c.x, c.y));
        }
        painter.drawPolyline(marker);
      }
      legend.emplace_back(
          colour, QString(ListenerName(listener)) + ": " + QString::fromStdString(run->HazardText) +
                      " A.R.U., worst place " + QString::number(run->cochlea.WorstSection));
    }
    Legend(painter, layout, legend);
  };
}

QByteArray PlacesPicture(const ShotReport& shot) {
  Picture picture;
  picture.lower = {PlaceHazards(shot)};
  return BandPng(picture, PlotState{}, LowerBand());
}

// --- The page.

QString Row(const QStringList& cells, const QString& tag = "td") {
  QString row = "<tr>";
  for (qsizetype k = 0; k < cells.size(); ++k) {
    row += "<" + tag + (k == 0 ? " class=\"name\" nowrap" : "") + ">" + cells[k] + "</" + tag + ">";
  }
  return row + "</tr>\n";
}

QString TableStart(bool full_width = false) {
  return QString("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"") +
         (full_width ? " width=\"100%\"" : "") + ">\n";
}

QString WithFile(const QString& value, const std::string& file) {
  return file.empty() ? value : value + " (" + FileName(file) + ")";
}

QString SummaryTable(const ShotSummary& s) {
  QString html = TableStart();
  html += Row({"", "energy mean", "maximum"}, "th");
  const std::pair<const char*, const ShotSummary::Levels*> levels[] = {
      {"Peak level, dB", &s.peak_db}, {"LAE, dB", &s.lae_db}, {"LAeq8hr, dB", &s.LAeq8hr}};
  for (const auto& [label, value] : levels) {
    html += Row({label, Fixed(value->energy_mean, 2), Fixed(value->maximum, 2)});
  }
  html += "</table>\n" + TableStart();
  html += Row(
      {"Allowed exposures", "least, of one shot", "all shots in one day", "times allowed per day"},
      "th");
  for (const Listener listener : {Listener::Warned, Listener::Unwarned}) {
    const std::size_t k = listener == Listener::Warned ? 0 : 1;
    if (s.runs[k] == 0) continue;
    html += Row({QString("ear model, ") + ListenerName(listener) + " listener",
                 WithFile(Allowed(s.least_allowed[k]), s.least_allowed_file[k]),
                 QString::fromStdString(HazardText(static_cast<float>(s.day_aru[k]))) + " A.R.U.",
                 Allowed(s.day_allowed_by_model[k])});
  }
  html += Row({"A-weighted energy, 85 dB(A), 3 dB exchange",
               s.least_allowed_rounds
                   ? WithFile(Fixed(s.least_allowed_rounds, 1), s.least_allowed_rounds_file)
                   : QString("n/a"),
               "LAeq8hr " + Fixed(s.day_LAeq8hr, 2) + " dB",
               s.day_LAeq8hr ? Allowed(s.day_allowed_by_energy) : QString("n/a")});
  return html + "</table>\n";
}

QStringList RunCells(const ShotReport& shot, Listener listener) {
  const auto& run = shot.Run(listener);
  if (!run) return {"n/a", "n/a"};
  return {Html(run->HazardText), Html(run->AllowedText)};
}

QString ShotTables(std::span<const ShotReport> shots) {
  QString descriptors = TableStart(true);
  descriptors +=
      Row({"File", "Peak<br>dB", "Peak<br>Pa", "LCpeak<br>dB", "A<br>ms", "B<br>ms", "C<br>ms",
           "Rise<br>ms", "LAE<br>dB", "LZE<br>dB", "LIAeq100ms<br>dB", "Kurtosis", "Crest<br>dB"},
          "th");
  QString energy = TableStart(true);
  energy += Row({"File", "LAeq<br>dB", "Leq<br>dB", "LAeq8hr<br>dB", "Allowed<br>rounds",
                 "A-wt exposure<br>J/m²", "Warned<br>A.R.U.", "Warned<br>allowed",
                 "Unwarned<br>A.R.U.", "Unwarned<br>allowed"},
                "th");
  for (const ShotReport& s : shots) {
    if (s.failed()) {
      const QString row = "<tr class=\"error\"><td class=\"name\" nowrap>" + FileName(s.file) +
                          "</td><td colspan=\"%1\">" + Html(s.error) + "</td></tr>\n";
      descriptors += row.arg(12);
      energy += row.arg(9);
      continue;
    }
    const ImpulseDescriptors& d = s.descriptors;
    descriptors +=
        Row({FileName(s.file), Fixed(d.peak_db, 2), Fixed(d.peak_pa, 2), Fixed(d.lcpeak_db, 2),
             Fixed(d.a_duration_ms, 3), Fixed(d.b_duration_ms, 3), Fixed(d.c_duration_ms, 3),
             Fixed(d.rise_time_ms, 3), Fixed(d.lae_db, 2), Fixed(d.lze_db, 2),
             Fixed(d.liaeq100ms_db, 2), Fixed(d.kurtosis, 1), Fixed(d.crest_factor_db, 2)});
    const IntervalResults& m = s.metrics;
    energy += Row(QStringList{FileName(s.file), Fixed(m.LAeqInterval, 2), Fixed(m.LeqInterval, 2),
                              Fixed(m.LAeq8hr, 2),
                              m.AllowedRounds ? Fixed(m.AllowedRounds, 1) : QString("unlimited"),
                              QString::fromStdString(FormatFixed(m.AWeightedExposure, 4))} +
                  RunCells(s, Listener::Warned) + RunCells(s, Listener::Unwarned));
  }
  return "<h2>Impulse descriptors</h2>\n" + descriptors +
         "</table>\n<h2>Energy metrics and hazard</h2>\n" + energy + "</table>\n";
}

QString ShotSection(std::size_t index, const ShotReport& s, const ShotPictures& pictures,
                    const std::function<QString(std::size_t, ShotPictures::Kind)>& source,
                    int image_width) {
  QString html = "<h2 style=\"page-break-before: always\">" + QString::number(index + 1) + ". " +
                 Html(s.file) + "</h2>\n";
  if (s.failed()) return html + "<p class=\"error\">" + Html(s.error) + "</p>\n";
  const double ms = double{s.dt} * 1000.0;
  html += "<p>" + Html(s.title) + "<br>\n" + QString::number(s.samples) + " samples at " +
          QString::number(double{s.rate}, 'g', 9) + " samples/s, microphone location " +
          QString::number(s.mic_location) + " (" + MicLocationName(s.mic_location) +
          "), analysed from " + Fixed(s.interval.first * ms, 3) + " to " +
          Fixed(s.interval.last * ms, 3) + " ms.</p>\n";
  const ImpulseDescriptors& d = s.descriptors;
  const QString marks = "Peak " + Fixed(d.peak_db, 2) + " dB at " +
                        Fixed(s.interval.first * ms + d.peak_time_ms, 3) +
                        " ms (red triangle); A-duration " + Fixed(d.a_duration_ms, 3) +
                        " ms (red, on the zero line); B-duration " + Fixed(d.b_duration_ms, 3) +
                        " ms (green: first to last sample within 20 dB of the peak, dashed at a "
                        "tenth of the peak).";
  QString places = "Hazard of each cochlear place against its distance from the stapes";
  for (const Listener listener : {Listener::Warned, Listener::Unwarned}) {
    if (const auto& run = s.Run(listener)) {
      places += QString(listener == Listener::Warned ? ": warned listener " : "; unwarned ") +
                Html(run->HazardText) + " A.R.U. at place " +
                QString::number(run->cochlea.WorstSection) +
                (listener == Listener::Warned ? " (blue squares)" : " (red triangles)");
    }
  }
  const std::pair<ShotPictures::Kind, QString> captions[] = {
      {ShotPictures::Pressure, "Pressure over the analysed interval. " + marks},
      {ShotPictures::CloseUp, "The impulse close up, marked as above."},
      {ShotPictures::Spectrum,
       "Leq300ms spectrum of the analysed interval: narrow band (blue) and third-octave bands "
       "(green), dB re 20 &micro;Pa."},
      {ShotPictures::Places, places + "."}};
  for (const auto& [kind, caption] : captions) {
    if (!pictures.png[kind].isEmpty()) {
      html += "<p><img src=\"" + source(index, kind) + "\" width=\"" +
              QString::number(image_width) + "\" alt=\"\"><br>\n" + caption + "</p>\n";
    } else if (!pictures.missing[kind].empty()) {
      html += "<p>" + Html(pictures.missing[kind]) + "</p>\n";
    }
  }
  return html;
}

constexpr const char* kStyle =
    "body { font-family: 'Liberation Sans', Arial, sans-serif; color: #222; }\n"
    "table { border-collapse: collapse; margin: 0.5em 0 1.5em 0; }\n"
    "th, td { border: 1px solid #999; padding: 2px 6px; text-align: right; }\n"
    "td { white-space: nowrap; }\n"
    "th { background-color: #eeeeee; }\n"
    ".name { text-align: left; white-space: nowrap; }\n"
    ".error { color: #aa0000; }\n"
    "img { max-width: 100%; height: auto; }\n";

}  // namespace

QByteArray PngBytes(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) throw FormatError("cannot encode the picture as PNG");
  return png;
}

ShotPictures DrawShotPictures(const ShotReport& shot, const Session& session) {
  ShotPictures pictures;
  if (shot.failed() || session.LastSample < shot.interval.last) return pictures;
  pictures.png[ShotPictures::Pressure] =
      PressurePicture(shot, session, shot.interval.first, shot.interval.last);
  if (const std::optional<Selection> close = CloseUp(shot)) {
    pictures.png[ShotPictures::CloseUp] = PressurePicture(shot, session, close->first, close->last);
  }
  if (shot.spectrum) {
    pictures.png[ShotPictures::Spectrum] = SpectrumPicture(shot);
  } else {
    pictures.missing[ShotPictures::Spectrum] = "No Leq300ms spectrum: " + shot.spectrum_error;
  }
  if (!shot.place_distance_cm.empty()) {
    pictures.png[ShotPictures::Places] = PlacesPicture(shot);
  }
  return pictures;
}

QString ReportHtml(std::span<const ShotReport> shots, const ShotSummary& summary,
                   const ReportInfo& info, std::span<const ShotPictures> pictures,
                   const std::function<QString(std::size_t, ShotPictures::Kind)>& source,
                   int image_width) {
  QString html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>KORVA impulse noise report</title>\n<style>\n" +
      QString(kStyle) + "</style>\n</head>\n<body>\n<h1>KORVA impulse noise report</h1>\n";
  QString model = Html(info.model_file);
  if (!info.model_sha256.empty()) model += " (SHA-256 " + Html(info.model_sha256) + ")";
  html += "<p>" + Html(info.date) + ", " + Html(info.program) + "<br>\nEar-model file: " + model +
          "<br>\n" + QString::number(summary.files) + (summary.files == 1 ? " file" : " files") +
          ", " + QString::number(summary.failed) + " failed.</p>\n";
  html += "<h2>Summary</h2>\n" + SummaryTable(summary) + ShotTables(shots);
  html +=
      "<p>Levels are dB re 20 &micro;Pa; LAeq, Leq and LAeq8hr, as the program's Statistics "
      "shows them, use 94 dB for 1 Pa. Allowed rounds: 85 dB(A) over 8 hours with a 3 dB "
      "exchange. Allowed exposures by the model: 500 / A.R.U.</p>\n";
  for (std::size_t k = 0; k < shots.size(); ++k) {
    html += ShotSection(k, shots[k], pictures[k], source, image_width);
  }
  return html + "</body>\n</html>\n";
}

ReportFormat ReportFormatFor(const std::filesystem::path& path) {
  return ToUpperAscii(path.extension().string()) == ".PDF" ? ReportFormat::Pdf : ReportFormat::Html;
}

namespace {

// The same page laid out by Qt's rich text on A4, pictures as resources.
QByteArray PdfBytes(std::span<const ShotReport> shots, const ShotSummary& summary,
                    const ReportInfo& info, std::span<const ShotPictures> pictures,
                    ProgressSink& progress) {
  QTextDocument document;
  QFont font("Liberation Sans");
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(7.5);
  document.setDefaultFont(font);
  document.setDocumentMargin(0);
  const auto name = [](std::size_t shot, ShotPictures::Kind kind) {
    return "korva:shot" + QString::number(shot) + "-" + QString::number(kind);
  };
  for (std::size_t shot = 0; shot < pictures.size(); ++shot) {
    for (int kind = 0; kind < ShotPictures::kKinds; ++kind) {
      const QByteArray& png = pictures[shot].png[static_cast<std::size_t>(kind)];
      if (png.isEmpty()) continue;
      document.addResource(QTextDocument::ImageResource,
                           QUrl(name(shot, static_cast<ShotPictures::Kind>(kind))),
                           QImage::fromData(png, "PNG"));
    }
  }

  QByteArray pdf;
  QBuffer buffer(&pdf);
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(14, 12, 14, 12), QPageLayout::Millimeter);
  writer.setResolution(300);
  writer.setTitle("KORVA impulse noise report");
  writer.setCreator(QString::fromStdString(info.program));
  // The text is laid out at 96 dots per inch and scaled onto the page; the
  // bottom line of every page holds its number.
  const QRect paint = writer.pageLayout().paintRectPixels(writer.resolution());
  const double scale = writer.resolution() / 96.0;
  const double footer = 0.3 * writer.resolution();  // 0.3 inch
  const QSizeF page(paint.width() / scale, (paint.height() - footer) / scale);
  document.setPageSize(page);
  document.setHtml(ReportHtml(shots, summary, info, pictures, name,
                              static_cast<int>(std::floor(0.8 * page.width()))));
  const int pages = document.pageCount();
  QPainter painter(&writer);
  QFont footer_font = font;
  footer_font.setPointSizeF(7.0);
  for (int p = 0; p < pages; ++p) {
    if (p > 0) writer.newPage();
    painter.save();
    painter.scale(scale, scale);
    painter.translate(0.0, -p * page.height());
    // (A line that starts the next page would show its top edge here.)
    document.drawContents(&painter,
                          QRectF(0.0, p * page.height(), page.width(), page.height() - 1));
    painter.restore();
    painter.setFont(footer_font);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0.0, paint.height() - footer * 0.7, paint.width(), footer * 0.7),
                     Qt::AlignHCenter | Qt::AlignBottom,
                     "page " + QString::number(p + 1) + " of " + QString::number(pages));
    progress.Checkpoint(p + 1, pages + 1);
  }
  painter.end();
  buffer.close();
  return pdf;
}

}  // namespace

void WriteReportFile(std::span<const ShotReport> shots, const ShotSummary& summary,
                     const ReportInfo& info, std::span<const ShotPictures> pictures,
                     const std::filesystem::path& path, ReportFormat format,
                     ProgressSink& progress) {
  progress.Checkpoint(0, 1);
  if (format == ReportFormat::Html) {
    const QString html = ReportHtml(
        shots, summary, info, pictures,
        [&](std::size_t shot, ShotPictures::Kind kind) {
          return "data:image/png;base64," +
                 QString::fromLatin1(pictures[shot].png[kind].toBase64());
        },
        kPictureWidth);
    const QByteArray bytes = html.toUtf8();
    WriteFileAtomically(path, std::string_view(bytes.constData(), bytes.size()));
    progress.Report(1, 1);
    return;
  }

  // QTextDocument lays itself out with timers, which need a thread with an
  // event loop: on any other thread (the window's worker is a plain one) the
  // PDF is made on a short-lived Qt thread of its own.
  QByteArray pdf;
  std::exception_ptr error;
  const auto make = [&] {
    try {
      pdf = PdfBytes(shots, summary, info, pictures, progress);
    } catch (...) {
      error = std::current_exception();
    }
  };
  if (QThread::currentThread()->eventDispatcher() != nullptr) {
    make();
  } else {
    const std::unique_ptr<QThread> thread(QThread::create(make));
    thread->start();
    thread->wait();
  }
  if (error) std::rethrow_exception(error);
  if (pdf.isEmpty()) throw IoError(path.string() + ": the PDF could not be made");
  WriteFileAtomically(path, std::string_view(pdf.constData(), pdf.size()));
  progress.Report(1, 1);
}

}  // namespace korva::render
