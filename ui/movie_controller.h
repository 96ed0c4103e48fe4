// The movie of the last hazard run: the chain of items a run leaves at the
// right of the menu bar (the stapes displacement, the unwrapped cochlea, then
// the hazard animation, with Cancel), the animation's player and its step
// menu, the cochlea's read-out, and File > Save movie.
#pragma once

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPoint>
#include <QString>
#include <optional>

#include "render/picture.h"
#include "ui/hazard_movie.h"
#include "ui/workspace.h"

namespace korva::ui {

extern const char* const kMovieClosingMessage;

class MovieController : public QObject {
  Q_OBJECT

 public:
  MovieController(Workspace& workspace, QMenuBar& bar, QObject* parent = nullptr);

  QAction* AddFileItems(QMenu& file);

  HazardMovie& Player() { return *player_; }
  // The movie items on the menu bar after a hazard run (none otherwise).
  std::vector<QAction*> Items() const;
  // Whether the movie's pictures stand in place of the pressure plot.
  bool Showing() const { return before_movie_.has_value(); }
  // Whether the waveform below the animation is shown (zoom and the sample
  // read-out apply to it).
  bool AnimationShown() const { return Showing() && shown_ == Shown::kAnimation; }
  // The status bar's text at `position` over the unwrapped cochlea or the
  // animation's upper plot: the place and its hazard; empty elsewhere.
  QString CochleaReadout(QPoint position) const;

  // The picture the movie's pictures stand in for (null when none do).
  const render::Picture* PictureBeforeMovie() const {
    return before_movie_ ? &before_movie_->picture : nullptr;
  }

  // Ends the previous run's movie: items removed, closing message, the
  // picture and the grid as before the movie.
  void CloseMovie();

 public slots:
  void ShowStapesDisplacement();
  void ShowUnwrappedCochlea();
  void PlayHazardAnimation();
  void CancelMovie();
  void SaveMovie();

 private:
  // After a run: the chain's first items, when the bar does not offer them yet.
  void OfferMovie();
  void RemoveItems();
  void AddStepMenu();
  // Replaces the last movie item by `caption`, which runs `step`.
  void ReplaceNextItem(const char* caption, const char* name, void (MovieController::*step)());
  // The session's waveform read against the worst place's hazard of the last run.
  render::Layer MovieWaveform() const;

  Workspace& workspace_;
  QMenuBar& bar_;
  HazardMovie* player_ = nullptr;
  QAction* cancel_item_ = nullptr;
  QAction* next_item_ = nullptr;
  // The movie's samples per frame while it plays, checked on the current one.
  QMenu* step_menu_ = nullptr;
  // What the movie's pictures replaced, brought back when it is cancelled.
  struct BeforeMovie {
    render::Picture picture;
    bool grid = false;
  };
  std::optional<BeforeMovie> before_movie_;
  // Which place hazards the upper picture shows, for the read-out: none
  // (the stapes), the run's (the unwrapped cochlea) or the animation's.
  enum class Shown { kStapes, kCochlea, kAnimation };
  Shown shown_ = Shown::kStapes;
};

}  // namespace korva::ui
