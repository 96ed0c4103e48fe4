// The hazard movie: the chain of menu-bar items, the keys, the running
// hazard against the run's place hazards, and cancelling.
#include "ui/hazard_movie.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QThread>
#include <cmath>
#include <memory>

#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/model/cochlea.h"
#include "render/movie_export.h"
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
    window_->analysis().RunWarned();
    Settle();
    ASSERT_TRUE(Informed().empty()) << Informed().front();
    ASSERT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel ,", "Stapes Displacement]"}));
    window_->movie().Items().back()->trigger();
    ASSERT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel ,", "Unwrap Cochlea]"}));
    EXPECT_FALSE(window_->StringGrid1()->isVisible());
    SaveCanvas("movie-stapes.png");
    window_->movie().Items().back()->trigger();
    ASSERT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel ,", "Hazard Animation]"}));
    window_->movie().Items().back()->trigger();
    ASSERT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel]", "Step"}));
    ASSERT_TRUE(window_->movie().Player().Running());
  }
  QStringList base_bar_;
};

TEST_F(HazardMovieTest, StepsOfManySamplesAndSeekingWhilePaused) {
  StartMovie();
  ui::HazardMovie& movie = window_->movie().Player();
  movie.Tick();
  EXPECT_EQ(movie.MovieFrame(), 2);
  for (int i = 0; i < 10; ++i) movie.Key(Qt::Key_Plus);  // stops at the largest step
  EXPECT_EQ(movie.Step(), 100);
  movie.Tick();
  EXPECT_EQ(movie.MovieFrame(), 102);
  const std::vector<float> at_102 = movie.PlaceHazard();
  EXPECT_FALSE(movie.Key(Qt::Key_Left));  // seeking is for a paused movie
  movie.Key(Qt::Key_Minus);
  EXPECT_EQ(movie.Step(), 50);
  // The step menu shows the step the keys chose and sets another.
  QMenu* steps = window_->movie().Items().back()->menu();
  ASSERT_NE(steps, nullptr);
  emit steps->aboutToShow();
  QStringList checked;
  for (QAction* item : steps->actions()) {
    if (item->isChecked()) checked << item->text();
  }
  EXPECT_EQ(checked, QStringList{"50 samples per frame"});
  steps->actions().at(2)->trigger();
  EXPECT_EQ(movie.Step(), 5);
  EXPECT_EQ(steps->actions().at(2)->text(), "5 samples per frame");
  movie.Key(Qt::Key_Plus);
  EXPECT_EQ(movie.Step(), 10);
  movie.Key(Qt::Key_Plus);
  movie.Key(Qt::Key_Plus);
  movie.Key(Qt::Key_Return);
  movie.Key(Qt::Key_Left);
  EXPECT_EQ(movie.MovieFrame(), 52);
  movie.Key(Qt::Key_Right);
  EXPECT_EQ(movie.MovieFrame(), 102);
  // Back and forth, the running hazard is the one reached by playing.
  EXPECT_EQ(movie.PlaceHazard(), at_102);
  SaveCanvas("movie-step.png");
  movie.Key(Qt::Key_Return);
  while (movie.Running()) movie.Tick();
  EXPECT_EQ(movie.MovieFrame(), movie.LastFrame());
}

TEST_F(HazardMovieTest, AShorterFrameLabelLeavesNothingOfALongerOne) {
  StartMovie();
  ui::HazardMovie& movie = window_->movie().Player();
  movie.SetStep(100);
  for (int i = 0; i < 20; ++i) movie.Tick();
  movie.SetStep(1);  // "step 100" becomes "step 1": the label shrinks
  movie.Tick();
  // The label's rows at the top right, as the frames left them and as the
  // whole picture draws them.
  const QImage& image = window_->canvas().Image();
  const QRect label(image.width() / 2, 0, image.width() / 2, image.height() / 25);
  const QImage ticked = image.copy(label);
  window_->workspace().picture().Redraw();
  EXPECT_EQ(image.copy(label), ticked);
}

TEST_F(HazardMovieTest, KeysPauseReplayAndPace) {
  StartMovie();
  ui::HazardMovie& movie = window_->movie().Player();
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
  // The read-out beside the plot may hold the focus: the keys still reach
  // the movie rather than moving its text cursor.
  QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
  QCoreApplication::sendEvent(window_->Edit1(), &home);
  EXPECT_TRUE(movie.ReplayPending());
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
  ui::HazardMovie& movie = window_->movie().Player();
  Counter finished(movie, &ui::HazardMovie::Finished);
  while (finished.count() == 0) movie.Tick();
  const CochlearResult& cochlea = window_->document().last_run->cochlea;
  const std::vector<float> hazard = movie.PlaceHazard();
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

TEST_F(HazardMovieTest, TheCochleaReadoutNamesThePlaceAndHazardUnderTheMouse) {
  OpenTestFile("blast.krv");
  window_->analysis().RunWarned();
  Settle();
  window_->movie().Items().back()->trigger();  // the stapes: no place to read
  window_->movie().Items().back()->trigger();  // the unwrapped cochlea
  const HazardRunResult& run = *window_->document().last_run;
  const int c = run.cochlea.WorstSection;
  const auto distance = static_cast<float>(PlaceDistance(run.parameters, c));
  const plot::Frame frame = window_->workspace().picture().State().frames[2];  // distance across
  float x = distance, y = (frame.PlotYMin + frame.PlotYMax) / 2.0f;
  const plot::ScreenPoint at = plot::WorldToScreen(frame, x, y);
  auto expected = [&](float hazard) {
    return FormatFixed(distance, 3) + " cm   (place " + FormatInteger(c) + " of " +
           FormatInteger(run.cochlea.Places) + ", " +
           FormatFixed(CharacteristicFrequency(run.parameters, distance) / 1000.0, 2) + " kHz)   " +
           FormatFixed(hazard, 3) + " A.R.U.";
  };
  window_->view().Hovered({at.x, at.y});
  EXPECT_EQ(window_->statusBar()->currentMessage().toStdString(),
            expected(run.movie->At(1, c + 2)));
  SaveCanvas("cochlea-readout.png");

  // In the movie: the running hazard of the frame reached.
  window_->movie().Items().back()->trigger();
  ui::HazardMovie& movie = window_->movie().Player();
  for (int i = 0; i < 40; ++i) movie.Tick();
  window_->view().Hovered({at.x, at.y});
  EXPECT_EQ(window_->statusBar()->currentMessage().toStdString(),
            expected(movie.PlaceHazard()[static_cast<std::size_t>(c - 1)]));
}

TEST_F(HazardMovieTest, TheWaveformBelowZoomsAsAViewWhileTheMovieGoesOn) {
  StartMovie();
  ui::HazardMovie& movie = window_->movie().Player();
  for (int i = 0; i < 300; ++i) movie.Tick();  // past the pulse's peak at sample 200
  ASSERT_TRUE(movie.Key(Qt::Key_Return));      // paused
  const Session& session = window_->session();
  const auto pressure = session.Pressure.Range(0, session.LastSample);
  const std::vector<float> samples(pressure.begin(), pressure.end());
  const plot::Frame whole = window_->workspace().picture().State().frames[1];
  const QPoint centre = render::BoxOf(whole).center();

  // Over the cochlea above, the wheel zooms nothing; over the waveform it does.
  window_->view().Wheeled({centre.x(), 20}, {0, 360}, Qt::ControlModifier);
  EXPECT_FALSE(window_->view().Zoom());
  window_->view().Wheeled(centre, {0, 360}, Qt::ControlModifier);
  ASSERT_TRUE(window_->view().Zoom());
  const plot::Frame& lower = window_->workspace().picture().State().frames[1];
  EXPECT_LT(lower.PlotXMax - lower.PlotXMin, 0.6f * (whole.PlotXMax - whole.PlotXMin));

  // Samples 190 to 210: the peak reads as on the pressure plot, and the
  // waveform played so far is cut at the box, not pressed along its edges.
  window_->view().SetZoom(
      render::PressureView{190 * 5e-6f, 210 * 5e-6f, session.MinPressure, session.PeakPressure});
  float ms = 1.0f, kpa = 0.0f;
  const plot::ScreenPoint peak = plot::WorldToScreen(lower, ms, kpa);
  EXPECT_EQ(window_->view().ReadoutAt({peak.x, peak.y}).toStdString(),
            "1.000 ms   2000.0 Pa   160.0 dB   (sample 200)");
  const QImage& image = window_->canvas().Image();
  const QRect box = render::BoxOf(lower);
  EXPECT_GT(CountColour(image, 0x008000u, box.top(), box.bottom() + 1), 20);
  for (const int x : {box.left(), box.right()}) {
    int green = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) green += image.pixel(x, y) == 0xFF008000u;
    EXPECT_LE(green, 2) << "column " << x;
  }
  SaveCanvas("movie-zoomed.png");

  // A double click shows it whole again; the samples never changed, and the
  // movie goes on from where it was.
  window_->view().DoubleClicked(Qt::LeftButton, centre);
  EXPECT_FALSE(window_->view().Zoom());
  EXPECT_EQ(window_->workspace().picture().State().frames[1].PlotXMax, whole.PlotXMax);
  const auto after = session.Pressure.Range(0, session.LastSample);
  EXPECT_TRUE(std::equal(after.begin(), after.end(), samples.begin(), samples.end()));
  const std::int32_t reached = movie.MovieFrame();
  movie.Key(Qt::Key_Return);
  movie.Tick();
  EXPECT_EQ(movie.MovieFrame(), reached + movie.Step());
}

TEST_F(HazardMovieTest, WorstPlaceHazardIsDrawnAgainstItsOwnAxisBelow) {
  StartMovie();
  const render::PlotState& plot = window_->workspace().picture().State();
  const plot::Frame& pressure = plot.frames[1];
  const plot::Frame& hazard = plot.frames[3];
  const CochlearResult& cochlea = window_->document().last_run->cochlea;
  // Frame 4 reads the hazard from 0 to the worst place's over the waveform's
  // time span, in the same rectangle as frame 2 below the middle.
  const QImage& image = window_->canvas().Image();
  EXPECT_EQ(hazard.PlotYMin, 0.0f);
  EXPECT_NEAR(hazard.PlotYMax, cochlea.SectionHazard[cochlea.WorstSection], 1e-3f);
  EXPECT_EQ(hazard.PlotXMax, pressure.PlotXMax);
  EXPECT_EQ(hazard.top, pressure.top);
  EXPECT_EQ(hazard.top, static_cast<int>(std::nearbyint(0.5 * image.height())));
  EXPECT_NEAR(hazard.YScale * (hazard.PlotYMin - hazard.PlotYMax),
              pressure.YScale * (pressure.PlotYMin - pressure.PlotYMax), 0.5f);

  ui::HazardMovie& movie = window_->movie().Player();
  while (movie.Running()) movie.Tick();
  SaveCanvas("movie-lower-end.png");
  // The red line of the worst place climbs to the top of its axis by the
  // last frame: red pixels just below the top of the lower plot, right of
  // the middle of the time axis.
  float x = (hazard.PlotXMin + hazard.PlotXMax) / 2.0f, y = hazard.PlotYMax;
  const plot::ScreenPoint top = plot::WorldToScreen(hazard, x, y);
  int red_near_top = 0;
  for (int row = top.y; row < top.y + 4; ++row) {
    for (int column = top.x; column < image.width(); ++column) {
      if ((image.pixel(column, row) & 0xFFFFFFu) == 0xFF0000u) ++red_near_top;
    }
  }
  EXPECT_GT(red_near_top, 0);
}

TEST_F(HazardMovieTest, CommandsThatDrawEndTheMovieAndCopiesDoNot) {
  StartMovie();
  ui::HazardMovie& movie = window_->movie().Player();
  movie.Tick();
  window_->view().CopyScreen();
  EXPECT_TRUE(movie.Running());

  // The help picture replaces the window: no frame may be drawn over it.
  window_->protector().ShowProtectorHelp();
  EXPECT_FALSE(movie.Running());
  EXPECT_TRUE(window_->workspace().picture().HelpPictureShowing());
  const QImage picture = window_->canvas().Image().copy();
  movie.Tick();
  EXPECT_EQ(window_->canvas().Image(), picture);
  // The menu bar is left as at the end of a movie.
  EXPECT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel]", "Step"}));
}

TEST_F(HazardMovieTest, CancelRemovesExactlyTheMovieItemsAndStops) {
  StartMovie();
  window_->movie().Player().Tick();
  window_->movie().CancelMovie();
  EXPECT_EQ(BarCaptions(*window_), base_bar_);
  EXPECT_FALSE(window_->movie().Player().Running());
  ASSERT_EQ(Informed().size(), 1u);
  EXPECT_EQ(Informed()[0], ui::kMovieClosingMessage);
  EXPECT_FALSE(window_->session().MovieAvailable);
  // The grid the movie covered comes back with the run's result, over the
  // run's picture with its reflex curve.
  EXPECT_TRUE(window_->StringGrid1()->isVisible());
  EXPECT_FALSE(window_->StringGrid1()->item(5, 1)->text().isEmpty());
  const QImage& image = window_->canvas().Image();
  EXPECT_GT(CountColour(image, 0x00AAAAu, image.height() / 2, image.height()), 100);
  // The picture brought back is the plain pressure plot: an overlay drawn
  // next must use its axes, not the movie's two-range plot.
  const render::PlotState& plot = window_->workspace().picture().State();
  EXPECT_EQ(plot.frames[1].XScale, plot.frames[0].XScale);
  EXPECT_EQ(plot.frames[1].YScale, plot.frames[0].YScale);

  // With the pair still on the bar, both go.
  window_->analysis().RunWarned();
  Settle();
  ASSERT_EQ(BarCaptions(*window_).size(), base_bar_.size() + 2);
  window_->movie().CancelMovie();
  EXPECT_EQ(BarCaptions(*window_), base_bar_);
}

TEST_F(HazardMovieTest, ACancelledRunLeavesThePreviousRunsMovieAndPicture) {
  OpenTestFile("blast.krv", 1 << 15);
  base_bar_ = BarCaptions(*window_);
  window_->analysis().RunWarned();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  const QStringList offered = BarCaptions(*window_);
  const QString hazard = window_->StringGrid1()->item(5, 2)->text();
  const QString readout = window_->Edit1()->text();
  const QImage& image = window_->canvas().Image();
  auto expect_kept = [&](const QImage& picture, const QStringList& bar) {
    EXPECT_TRUE(Informed().empty()) << Informed().front();
    EXPECT_EQ(BarCaptions(*window_), bar);
    EXPECT_TRUE(window_->session().MovieAvailable);
    EXPECT_EQ(window_->document().last_run->listener, Listener::Warned);
    EXPECT_EQ(window_->StringGrid1()->item(5, 2)->text(), hazard);
    EXPECT_TRUE(window_->Edit1()->isVisible());
    EXPECT_EQ(window_->Edit1()->text(), readout);
    EXPECT_EQ(image, picture);
  };

  // Over the run's picture (the reflex curve, zoomed) and over the movie's
  // first picture, a second run cancelled leaves everything as it stood.
  const render::PressureView zoom{0.002f, 0.01f, -500.0f, 2500.0f};
  window_->view().SetZoom(zoom);
  const QImage reflex = image.copy();
  ASSERT_GT(CountColour(image, 0x00AAAAu, image.height() / 2, image.height()), 100);
  window_->analysis().RunUnwarned();
  CancelOnceWorking();
  expect_kept(reflex, offered);
  EXPECT_EQ(window_->workspace().picture().State().view, zoom);
  window_->view().SetZoom(std::nullopt);
  window_->movie().Items().back()->trigger();
  const QImage stapes = image.copy();
  window_->analysis().RunUnwarned();
  CancelOnceWorking();
  expect_kept(stapes, With(base_bar_, {"Movie[Cancel ,", "Unwrap Cochlea]"}));
  EXPECT_FALSE(window_->StringGrid1()->isVisible());
  window_->movie().Items().back()->trigger();
  EXPECT_EQ(BarCaptions(*window_), With(base_bar_, {"Movie[Cancel ,", "Hazard Animation]"}));

  // One that succeeds closes the old movie as it commits and offers its own,
  // over the grid and the reflex curve.
  window_->analysis().RunUnwarned();
  Settle();
  ASSERT_EQ(Informed().size(), 1u);
  EXPECT_EQ(Informed()[0], ui::kMovieClosingMessage);
  EXPECT_EQ(BarCaptions(*window_), offered);
  EXPECT_EQ(window_->document().last_run->listener, Listener::Unwarned);
  EXPECT_TRUE(window_->StringGrid1()->isVisible());
  EXPECT_TRUE(window_->Edit1()->isVisible());
  EXPECT_TRUE(window_->Edit1()->text().endsWith("  A.R.U."));
  EXPECT_GT(CountColour(image, 0x00AAAAu, image.height() / 2, image.height()), 100);
}

TEST_F(HazardMovieTest, AResizeDrawsTheFrameReachedAgain) {
  StartMovie();
  ui::HazardMovie& movie = window_->movie().Player();
  // Past the impulse: the place hazards have grown.
  for (int i = 0; i < 1500; ++i) movie.Tick();
  window_->resize(1100, 800);
  PumpEvents();
  const QImage& image = window_->canvas().Image();
  ASSERT_EQ(image.size(), window_->canvas().size());
  const int half = image.height() / 2;
  // The displacement profile and the place hazards above, the waveform and
  // the worst place's hazard so far below.
  EXPECT_GT(CountColour(image, 0x00FF00u, 0, half), 20);
  EXPECT_GT(CountColour(image, 0xFF0000u, 0, half), 20);
  EXPECT_GT(CountColour(image, 0x008000u, half, image.height()), 20);
  EXPECT_GT(CountColour(image, 0xFF0000u, half, image.height()), 5);
  // It goes on from there.
  const std::int32_t reached = movie.MovieFrame();
  movie.Tick();
  EXPECT_EQ(movie.MovieFrame(), reached + 1);
  SaveCanvas("movie-resized.png");
}

TEST_F(HazardMovieTest, TimerPlaysAndOpeningAnotherFileStopsTheMovie) {
  StartMovie();
  ui::HazardMovie& movie = window_->movie().Player();
  // The frames come from the event loop, not from a command that blocks it.
  QElapsedTimer clock;
  clock.start();
  while (movie.MovieFrame() < 3 && clock.elapsed() < 5000) {
    QCoreApplication::processEvents();
    QThread::msleep(2);
  }
  EXPECT_GE(movie.MovieFrame(), 3);
  OpenTestFile("longer.krv", 8000);
  EXPECT_FALSE(movie.Running());
  const QImage before = window_->canvas().Image().copy();
  movie.Tick();
  PumpEvents();
  EXPECT_EQ(window_->canvas().Image(), before);
}

TEST(MovieFrames, OnePlaceAccumulatesHazardWithoutProfileSegments) {
  EarModelParameters params;
  params.Places = 1;
  params.P[55] = 2.0f;  // exponent
  params.P[56] = 1.0f;  // reference place
  params.P[57] = 0.5f;  // first place, cm
  params.P[58] = 2.5f;  // last place, cm
  params.P[60] = 1.0f;  // displacement scale at the stapes
  params.P[61] = 0.5f;  // decay over the reference distance
  params.P[62] = 1.0f;  // threshold
  const std::int32_t samples = 400;
  auto buffer = std::make_shared<MovieBuffer>(samples + 4);
  std::vector<float> column;
  for (std::int32_t i = 0; i < samples; ++i) {
    const float d = 10.0f * static_cast<float>(std::sin(i * 0.1));
    buffer->At(i + 4, 3) = d;
    column.push_back(d);
  }
  buffer->At(1, 3) = 5.0f;
  buffer->At(2, 3) = 10.0f;
  buffer->At(3, 3) = -10.0f;

  render::MovieInput input;
  input.movie = buffer;
  input.params = params;
  input.places = 1;
  input.last_frame = samples - 1;
  input.dt = 1e-5f;
  input.pressure.assign(static_cast<std::size_t>(samples), 0.0f);
  QImage image(800, 600, QImage::Format_RGB32);
  image.fill(Qt::white);
  plot::Frame lower;
  lower.top = 300;
  lower.SetScales(700, 250);
  ui::HazardMovie movie(image);
  bool finished = false;
  QObject::connect(&movie, &ui::HazardMovie::Finished, [&finished] { finished = true; });
  movie.Start(input, lower, lower);
  for (int i = 0; i < samples + 2 && !finished; ++i) movie.Tick();
  ASSERT_TRUE(finished);
  EXPECT_EQ(movie.ProfileSegmentsDrawn(), 0);
  // Frames 1..last-1 see the same half-cycles as the whole-waveform rule.
  const double scale = params.P[60] * std::exp(std::log(0.5) * params.P[57]);
  const PlaceScan whole = ScanPlace(std::span<const float>(column).subspan(1, samples - 2), scale,
                                    params.P[62], params.P[55]);
  ASSERT_GT(whole.hazard, 0.0f);
  EXPECT_FLOAT_EQ(movie.PlaceHazard()[0], whole.hazard);
}

TEST(MovieFrames, StopAtTheLastAnalysedSample) {
  // An edited waveform longer than the analysed length has no rows beyond it.
  EXPECT_EQ(render::LastMovieFrame(2499, 2048), 2047);
  EXPECT_EQ(render::LastMovieFrame(1000, 2048), 1000);
}

TEST_F(HazardMovieTest, SaveMovieWritesTheRunAsAVideoAndNamesIt) {
  OpenTestFile("blast.krv");
  window_->analysis().RunWarned();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  const std::filesystem::path gif = work_.path() / "blast.gif";
  chooser_.Choose(gif);
  prompter_.Text("160x120").Text("100");
  window_->findChild<QAction*>("SaveMovie1")->trigger();
  Settle();
  if (!render::FindFfmpeg()) {
    // Said before any dialog, and nothing written.
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_NE(Errors().front().find("ffmpeg"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(gif));
    return;
  }
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(ReadWholeFile(gif).substr(0, 6), "GIF89a");
  EXPECT_NE(window_->statusBar()->currentMessage().toStdString().find("blast.gif"),
            std::string::npos);
  EXPECT_TRUE(prompter_.AllAnswersUsed());
}

}  // namespace
}  // namespace korva::testing
