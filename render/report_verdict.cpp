#include "render/report_verdict.h"

#include <QStringList>
#include <filesystem>
#include <memory>

#include "core/common/numbers.h"
#include "core/criteria/verdict.h"
#include "core/model/hazard.h"
#include "render/report_pages.h"
#include "render/surface.h"
#include "render/verdict_chart.h"

namespace korva::render {
namespace {

QString Html(const std::string& text) {
  return QString::fromStdString(text).toHtmlEscaped();
}

QString Cells(const QStringList& cells, const QString& tag, const QString& row_class = "") {
  QString row = row_class.isEmpty() ? "<tr>" : "<tr class=\"" + row_class + "\">";
  for (qsizetype k = 0; k < cells.size(); ++k) {
    row += "<" + tag + (k < 2 ? " class=\"name\"" : "") + ">" + cells[k] + "</" + tag + ">";
  }
  return row + "</tr>\n";
}

}  // namespace

QByteArray VerdictChartPng(const ShotSummary& summary, int width) {
  if (!summary.verdict) return {};
  const QSize size = VerdictChartSize(*summary.verdict, width);
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  Surface surface(image);
  PlotState state;
  AllowedShotsChart(std::make_shared<const Verdict>(*summary.verdict))(surface, state);
  return PngBytes(image);
}

QString VerdictHtml(const ShotSummary& summary, const QString& chart_source, int image_width) {
  if (!summary.verdict) return "";
  const Verdict& v = *summary.verdict;
  QString html = "<h2>Verdict</h2>\n<p class=\"verdict\"><b>" + Html(v.sentence) + "</b></p>\n";
  html += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">\n";
  html += Cells({"Criterion", "Protector", "Value", "Limit", "Shots", "Allowed shots a day"}, "th");
  for (std::size_t k = 0; k < v.rows.size(); ++k) {
    const VerdictRow& row = v.rows[k];
    const bool limiting = v.limiting && *v.limiting == k;
    html += Cells({Html(row.criterion), row.protector.empty() ? "none" : Html(row.protector),
                   Html(VerdictValueText(row)), Html(VerdictLimitText(row)),
                   QString::number(row.shots), Html(AllowedShotsText(row))},
                  "td", limiting ? "limiting" : "");
  }
  html += "</table>\n";
  if (!chart_source.isEmpty()) {
    // Both sizes, the chart's shape kept: the PDF's layout stretches a
    // picture given a width alone to its own pixel height.
    const QSize chart = VerdictChartSize(*summary.verdict, kReportPictureWidth);
    const int height = chart.isEmpty() ? image_width : chart.height() * image_width / chart.width();
    html += "<p><img src=\"" + chart_source + "\" width=\"" + QString::number(image_width) +
            "\" height=\"" + QString::number(height) +
            "\" alt=\"Allowed shots per day by criterion and protector\"><br>\n"
            "Allowed shots per day of this series' kind, by criterion and protector "
            "(logarithmic scale; red: the limiting criterion, green: the ear model under a "
            "protector).</p>\n";
  }
  QStringList notes;
  if (summary.not_free_field > 0) {
    notes << QString::number(summary.not_free_field) +
                 (summary.not_free_field == 1 ? " shot was" : " shots were") +
                 " not measured in the free field: judged by the ear model alone.";
  }
  if (!v.protector_note.empty()) notes << Html(v.protector_note);
  notes << "Allowed shots are shots of this series' kind: the times the series may be fired in "
           "a day times its shots. Levels are dB re 20 &micro;Pa; the criteria and their "
           "sources are listed in KORVA's docs/criteria.md.";
  for (const QString& note : notes) html += "<p>" + note + "</p>\n";
  return html;
}

QString ShotCriteriaHtml(std::span<const ShotReport> shots) {
  const ShotReport* judged = nullptr;
  for (const ShotReport& s : shots) {
    if (s.criteria) judged = &s;
  }
  if (judged == nullptr) return "";
  const auto fixed = [](const std::optional<double>& value, int decimals) {
    return value ? QString::fromStdString(FormatFixed(*value, decimals)) : QString("n/a");
  };
  const auto yes_no = [](const std::optional<bool>& value) {
    return value ? QString(*value ? "exceeded" : "no") : QString("n/a");
  };
  QStringList header = {
      "File",         "EU peak tier",         "OSHA peak",           "DoD peak",
      "NIOSH dose %", "1474E LIAeq8hr dB(A)", "1474E correction dB", "1474E allowed"};
  for (const ProtectedShot& p : judged->criteria->protectors) {
    header << Html(p.protector) + "<br>unwarned A.R.U.";
  }
  QString html =
      "<h2>Criteria of each shot</h2>\n<table border=\"1\" cellspacing=\"0\" "
      "cellpadding=\"3\" width=\"100%\">\n" +
      Cells(header, "th");
  for (const ShotReport& s : shots) {
    const QString file = Html(std::filesystem::path(s.file).filename().string());
    if (!s.criteria) {
      html += Cells({file, Html(s.failed() ? s.error : "not judged")}, "td");
      continue;
    }
    const ShotCriteria& c = *s.criteria;
    const Mil1474eShot* m = c.mil1474e ? &*c.mil1474e : nullptr;
    QStringList row = {
        file,
        c.eu_peak_tier ? QString(EuTierName(*c.eu_peak_tier)).replace('_', ' ') : "n/a",
        yes_no(c.osha_peak_exceeded),
        yes_no(c.dod_unprotected_exceeded),
        fixed(c.niosh_dose_percent, 4),
        m ? fixed(m->liaeq8hr_db, 2) : "n/a",
        m ? fixed(m->correction_db, 2) : "n/a",
        m ? (m->allowed ? fixed(m->allowed, 1) : QString("unlimited")) : "n/a"};
    for (const ProtectedShot& p : c.protectors) {
      row << (p.hazard.unwarned_aru
                  ? QString::fromStdString(HazardText(static_cast<float>(*p.hazard.unwarned_aru)))
                  : QString("n/a"));
    }
    html += Cells(row, "td");
    if (!s.criteria_note.empty()) {
      html += "<tr><td class=\"name\" colspan=\"" + QString::number(row.size()) + "\">" + file +
              ": " + Html(s.criteria_note) + "</td></tr>\n";
    }
  }
  return html + "</table>\n";
}

}  // namespace korva::render
