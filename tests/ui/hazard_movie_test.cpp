// The hazard movie: the chain of menu-bar items, the keys, the running
// hazard against the run's place hazards, and cancelling.
#include "ui/hazard_movie.h"

#include <gtest/gtest.h>

#include <QMenuBar>

#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

// Counts the emissions of a signal.
struct Counter {
  template <class Signal>
  Counter(ui::HazardMovie& movie, Signal signal) {
    QObject::connect(&movie, signal, &movie, [this] { ++count_; });
  }
  int count() const { return count_; }
  int count_ = 0;
};

QStringList With(const QStringList& base, std::initializer_list<const char*> items) {
  QStringList all = base;
  for (const char* item : items) all << item;
  return all;
}

QStringList BarCaptions(const ui::MainWindow& window) {
  QStringList captions;
  for (QAction* action : window.menuBar()->actions()) captions << action->text();
  return captions;
}

class HazardMovieTest : public WindowTest {
 protected:
  // Opens a waveform, runs the warned analysis and walks the chain to the
  // animation, checking the captions after each step.
  void StartMovie() {
    OpenTestFile("blast.krv");
    base_bar_ = BarCaptions(*window_);
    window_->NoProtectorWarned1Click();
    ASSERT_TRUE(Informed().empty()) << Informed().front();
    ASSERT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel ,", "Stapes Displacement]"}));
    window_->MovieItems().back()->trigger();
    ASSERT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel ,", "Unwrap Cochlea]"}));
    EXPECT_FALSE(window_->StringGrid1()->isVisible());
    window_->MovieItems().back()->trigger();
    ASSERT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel ,", "Hazard Animation]"}));
    window_->MovieItems().back()->trigger();
    ASSERT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel]"}));
    ASSERT_TRUE(window_->Movie().Running());
  }
  QStringList base_bar_;
};

TEST_F(HazardMovieTest, KeysPauseReplayAndPace) {
  StartMovie();
  ui::HazardMovie& movie = window_->Movie();
  for (int i = 0; i < 10; ++i) movie.Tick();
  const std::int32_t frame = movie.MovieFrame();
  EXPECT_EQ(frame, 11);

  // Enter freezes the frame, however often the timer fires; Enter resumes.
  EXPECT_TRUE(movie.Key(Qt::Key_Return));
  EXPECT_TRUE(movie.Paused());
  movie.Tick();
  PumpEvents();
  EXPECT_EQ(movie.MovieFrame(), frame);
  movie.Key(Qt::Key_Return);
  EXPECT_FALSE(movie.Paused());
  movie.Tick();
  EXPECT_EQ(movie.MovieFrame(), frame + 1);

  // The delay never goes below one millisecond.
  for (int i = 0; i < ui::kStartMovieDelay + 5; ++i) movie.Key(Qt::Key_Up);
  EXPECT_EQ(movie.MovieDelay(), 1);
  movie.Key(Qt::Key_Down);
  EXPECT_EQ(movie.MovieDelay(), 2);

  // Home replays once: a second Home in the same movie changes nothing.
  Counter replays(movie, &ui::HazardMovie::ReplayRequested);
  Counter finished(movie, &ui::HazardMovie::Finished);
  movie.Key(Qt::Key_Home);
  movie.Key(Qt::Key_Home);
  movie.Tick();
  EXPECT_EQ(replays.count(), 1);
  EXPECT_EQ(finished.count(), 0);
  EXPECT_EQ(movie.MovieFrame(), 1);
  EXPECT_FALSE(movie.ReplayPending());
  SaveCanvas("movie-frame.png");

  // End finishes after the current frame.
  movie.Tick();
  movie.Key(Qt::Key_End);
  movie.Tick();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(movie.Running());
  EXPECT_FALSE(movie.Key(Qt::Key_Up));  // keys belong to the movie only while it runs
}

TEST_F(HazardMovieTest, RunningHazardReachesThePlaceHazardsOfTheRun) {
  StartMovie();
  ui::HazardMovie& movie = window_->Movie();
  Counter finished(movie, &ui::HazardMovie::Finished);
  while (finished.count() == 0) movie.Tick();
  const CochlearResult& cochlea = window_->LastHazardRun()->cochlea;
  const std::vector<float>& hazard = movie.Hazard()->Hazard();
  ASSERT_EQ(static_cast<int>(hazard.size()), cochlea.Places);
  EXPECT_GT(cochlea.TotalHazardARU, 0.0f);
  for (int c = 1; c <= cochlea.Places; ++c) {
    EXPECT_NEAR(hazard[c - 1], cochlea.SectionHazard[c], 0.01f * cochlea.TotalHazardARU + 1e-6f)
        << "place " << c;
  }
  // The profile was drawn for every frame, between the places.
  EXPECT_GT(movie.ProfileSegmentsDrawn(), 0);
  SaveCanvas("movie-end.png");
}

TEST_F(HazardMovieTest, CancelRemovesExactlyTheMovieItemsAndStops) {
  StartMovie();
  window_->Movie().Tick();
  window_->CancelMovieClick();
  EXPECT_EQ(BarCaptions(*window_), base_bar_);
  EXPECT_FALSE(window_->Movie().Running());
  ASSERT_EQ(Informed().size(), 1u);
  EXPECT_EQ(Informed()[0], ui::kMovieClosingMessage);
  EXPECT_FALSE(window_->session().MovieAvailable);

  // With the pair still on the bar, both go.
  window_->NoProtectorWarned1Click();
  ASSERT_EQ(BarCaptions(*window_).size(), base_bar_.size() + 2);
  window_->CancelMovieClick();
  EXPECT_EQ(BarCaptions(*window_), base_bar_);
}

TEST(MovieFrames, StopAtTheLastAnalysedSample) {
  // An edited waveform longer than the analysed length has no rows beyond it.
  EXPECT_EQ(ui::LastMovieFrame(2499, 2048), 2047);
  EXPECT_EQ(ui::LastMovieFrame(1000, 2048), 1000);
}

}  // namespace
}  // namespace korva::testing
