// The report's part for a recording searched for shots, before the shots'
// own pages: what was searched and how, what the search saw, and the
// overview picture whose marks link to the shots.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QString>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/recording/recording_shots.h"

namespace korva::render {

struct OverviewSection {
  std::string file;  // the recording, as given
  QString facts;     // HTML: the recording, the search and its levels
  QByteArray png;    // the overview picture
  int width = 0;     // its size in pixels
  int height = 0;
  // Each shot's number and where its mark stands on the picture.
  std::vector<std::pair<int, QRect>> marks;
};

// Draws the overview of `found` (its shots need no windows). Needs a
// QGuiApplication; may run on a worker thread.
OverviewSection DrawOverviewSection(const std::string& file, const RecordingShots& found);

// The section as HTML: a heading, the facts and the picture from `source`
// shown `image_width` pixels wide, each mark a link to `link(shot number)`
// (an image map `map_name`; paged output shows the picture alone).
QString OverviewHtml(const OverviewSection& section, const QString& source, int image_width,
                     const QString& map_name, const std::function<QString(int)>& link);

}  // namespace korva::render
