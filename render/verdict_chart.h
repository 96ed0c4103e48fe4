// The verdict as a picture: "allowed shots per day" as one horizontal bar
// per row of the verdict (each criterion, and the ear model under each
// protector) on a logarithmic axis, so that counts from less than one to
// hundreds of thousands read side by side. The limiting row is red, the
// model's rows under protectors green, the others blue; a broken peak cap
// allows no shot and is marked as such at the axis, an unlimited row runs
// off its right end.
#pragma once

#include <QSize>
#include <memory>

#include "core/criteria/verdict.h"
#include "render/picture.h"

namespace korva::render {

// The picture's size at `width` pixels: its height grows with the rows.
QSize VerdictChartSize(const Verdict& verdict, int width);

// The chart over the whole surface.
Layer AllowedShotsChart(std::shared_ptr<const Verdict> verdict);

}  // namespace korva::render
