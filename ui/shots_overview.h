// The Shots panel's picture: the whole channel searched, each shot marked
// and numbered, drawn by the recipe the report's overview uses at the
// widget's size. A click on a mark selects its shot, a double click opens it.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <vector>

#include "render/recording_overview.h"

namespace korva::ui {

class ShotsOverview : public QWidget {
  Q_OBJECT

 public:
  explicit ShotsOverview(QWidget* parent = nullptr);

  // What to draw (no envelope: an empty white area); no shot selected.
  void SetInput(render::OverviewInput input);
  // The shot (index into the marks) shown selected; -1 for none.
  void SetSelected(int index);
  int Selected() const { return selected_; }
  // Where mark `index` stands on the widget as it is drawn now.
  QRect MarkArea(int index) const;
  // The mark at `point`, the nearest of those whose areas hold it; -1 for none.
  int MarkAt(QPoint point) const;
  // The picture as last drawn for the widget's size.
  const QImage& Image() const { return image_; }

 signals:
  void MarkClicked(int index);
  void MarkDoubleClicked(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void Redraw();

  render::OverviewInput input_;
  QImage image_;
  std::vector<QRect> areas_;
  int selected_ = -1;
};

}  // namespace korva::ui
