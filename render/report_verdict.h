// The verdict on the report's pages: the sentence naming the criterion that
// allows the fewest shots, the table of every criterion (value, limit,
// allowed shots a day), the chart of those counts and the note on what is
// recomputed under protectors.
#pragma once

#include <QByteArray>
#include <QString>
#include <span>

#include "core/analysis/analysis.h"

namespace korva::render {

// The chart "allowed shots per day" as PNG bytes, `width` pixels wide;
// empty when no shot was judged.
QByteArray VerdictChartPng(const ShotSummary& summary, int width);

// The verdict's part of the page, the chart's picture from `chart_source`
// drawn `image_width` pixels wide; empty when no shot was judged.
QString VerdictHtml(const ShotSummary& summary, const QString& chart_source, int image_width);

// The criteria of each shot and its hazard under each protector, as a
// table; empty when no shot was judged.
QString ShotCriteriaHtml(std::span<const ShotReport> shots);

}  // namespace korva::render
