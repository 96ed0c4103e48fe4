// The overview of a recording searched for shots: the whole channel, drawn
// from its envelope against seconds from the recording's start, each shot
// marked at its peak and numbered. The recipe (recipes.h: RecordingOverview)
// draws it in the lower band for the report and the window; the geometry
// here says where each mark stands, for a page's links and a panel's clicks.
#pragma once

#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "core/plot/frame.h"
#include "core/recording/recording_shots.h"

namespace korva::render {

struct OverviewMark {
  int number = 0;
  double time_s = 0.0;   // from the recording's start
  double peak_pa = 0.0;  // signed
};

struct OverviewInput {
  std::shared_ptr<const ChannelEnvelope> envelope;
  std::vector<OverviewMark> marks;
  std::string title;
};

// The overview of the shots a search found (their windows are not needed).
OverviewInput OverviewOf(const RecordingShots& found, std::string title);

// The frame the overview takes on a client area of width x height: seconds
// across, kilopascals up, with room above the highest mark for its number.
plot::Frame OverviewFrame(const OverviewInput& input, int client_width, int client_height);

// Where a mark stands on a picture drawn in that frame: its marker and the
// number above it, at least a few pixels wide, for links and clicks.
QRect OverviewMarkArea(const plot::Frame& frame, const OverviewMark& mark, int client_width,
                       int client_height);

}  // namespace korva::render
