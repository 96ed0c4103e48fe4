#include "ui/movie_controller.h"

#include <QActionGroup>
#include <QSize>
#include <algorithm>
#include <memory>

#include "core/waveform/header_cells.h"
#include "render/movie_export.h"
#include "render/picture_export.h"
#include "render/recipes.h"

namespace korva::ui {

const char* const kMovieClosingMessage =
    "The hazard analysis ends here with the Right-Click Pop-Up Menu disabled. To re-enable the "
    "Pop-Up Menu, return to the File | Open KRV waveform or File | Import waveform Pull-Down "
    "menu. To analyze a different warned response, return to the Analyze Pull-Down Menu.";

MovieController::MovieController(Workspace& workspace, QMenuBar& bar, QObject* parent)
    : QObject(parent), workspace_(workspace), bar_(bar) {
  player_ = new HazardMovie(workspace_.canvas().Image(), this);
  connect(player_, &HazardMovie::FrameDrawn, &workspace_.canvas(), qOverload<>(&QWidget::update));
  // A replay starts from a clean lower plot: the whole picture is drawn again.
  connect(player_, &HazardMovie::ReplayRequested, &workspace_.picture(), &PictureView::Redraw);
  // A command that draws ends a playing movie: its frames would be drawn
  // over the picture they did not start on.
  connect(&workspace_, &Workspace::CommandStarting, player_, &HazardMovie::Stop);
  connect(&workspace_.document(), &Document::ResultsChanged, this, &MovieController::OfferMovie);
  workspace_.AddWorkingLock([this] { return std::vector<QAction*>{cancel_item_, next_item_}; });
}

QAction* MovieController::AddFileItems(QMenu& file) {
  QAction* save = file.addAction("Save movie...");
  save->setObjectName("SaveMovie1");
  connect(save, &QAction::triggered, this, &MovieController::SaveMovie);
  return save;
}

std::vector<QAction*> MovieController::Items() const {
  std::vector<QAction*> items;
  if (cancel_item_) items.push_back(cancel_item_);
  if (step_menu_) items.push_back(step_menu_->menuAction());
  if (next_item_) items.push_back(next_item_);
  return items;
}

void MovieController::OfferMovie() {
  if (!workspace_.session().MovieAvailable || cancel_item_ != nullptr) return;
  RemoveItems();
  cancel_item_ = bar_.addAction("Movie[Cancel ,");
  cancel_item_->setObjectName("MovieCancel");
  connect(cancel_item_, &QAction::triggered, this, &MovieController::CancelMovie);
  ReplaceNextItem("Stapes Displacement]", "Animate", &MovieController::ShowStapesDisplacement);
}

void MovieController::RemoveItems() {
  // Removed by the pointers kept when they were added, never by counting the
  // bar; deleted later because the click being handled may be one of them.
  for (QAction** item : {&cancel_item_, &next_item_}) {
    if (*item == nullptr) continue;
    bar_.removeAction(*item);
    (*item)->deleteLater();
    *item = nullptr;
  }
  if (step_menu_ != nullptr) {
    bar_.removeAction(step_menu_->menuAction());
    step_menu_->deleteLater();
    step_menu_ = nullptr;
  }
}

void MovieController::AddStepMenu() {
  step_menu_ = bar_.addMenu("Step");
  step_menu_->setObjectName("MovieStep");
  auto* group = new QActionGroup(step_menu_);
  for (const int step : render::kMovieSteps) {
    QAction* item =
        step_menu_->addAction(QString("%1 sample%2 per frame").arg(step).arg(step == 1 ? "" : "s"));
    item->setCheckable(true);
    item->setData(step);
    group->addAction(item);
    connect(item, &QAction::triggered, this, [this, step] {
      player_->SetStep(step);
      // A paused movie shows its step in the frame's label.
      if (player_->Paused()) workspace_.picture().Redraw();
    });
  }
  // "+" and "-" change the step behind the menu's back: checked when shown.
  connect(step_menu_, &QMenu::aboutToShow, this, [this] {
    for (QAction* item : step_menu_->actions()) {
      item->setChecked(item->data().toInt() == player_->Step());
    }
  });
}

void MovieController::ReplaceNextItem(const char* caption, const char* name,
                                      void (MovieController::*step)()) {
  if (next_item_ != nullptr) {
    bar_.removeAction(next_item_);
    next_item_->deleteLater();
  }
  next_item_ = bar_.addAction(caption);
  next_item_->setObjectName(name);
  connect(next_item_, &QAction::triggered, this, step);
}

void MovieController::ShowStapesDisplacement() {
  workspace_.Run("Stapes Displacement", [this] {
    Document& document = workspace_.document();
    const std::optional<HazardRunResult>& run = document.last_run;
    if (!run || !run->movie || next_item_ == nullptr) return;
    workspace_.KeepProgressBar(false);
    workspace_.progress().hide();
    QTableWidget& grid = workspace_.grid().Widget();
    if (!before_movie_) before_movie_ = BeforeMovie{document.picture, grid.isVisible()};
    grid.hide();
    shown_ = Shown::kStapes;
    const Session& session = document.session;
    document.picture.upper = {render::StapesDisplacement(
        run->movie, render::LastMovieFrame(session.LastSample, run->cochlea.FftLength),
        session.SampleInterval, session.StartTime)};
    document.Changed(Document::kPicture);
    ReplaceNextItem("Unwrap Cochlea]", "UnwrapCochlea", &MovieController::ShowUnwrappedCochlea);
  });
}

void MovieController::ShowUnwrappedCochlea() {
  workspace_.Run("Unwrap Cochlea", [this] {
    Document& document = workspace_.document();
    const std::optional<HazardRunResult>& run = document.last_run;
    if (!run || !run->movie || next_item_ == nullptr) return;
    // The movie replays the run with the parameters the run used.
    document.picture.upper = {
        render::UnwrappedCochlea(run->movie, run->parameters, run->cochlea.Places)};
    document.picture.lower = {MovieWaveform()};
    document.Changed(Document::kPicture);
    shown_ = Shown::kCochlea;
    ReplaceNextItem("Hazard Animation]", "HazardAnimation", &MovieController::PlayHazardAnimation);
  });
}

void MovieController::PlayHazardAnimation() {
  workspace_.Run("Hazard Animation", [this] {
    Document& document = workspace_.document();
    const std::optional<HazardRunResult>& run = document.last_run;
    if (!run || !run->movie || next_item_ == nullptr) return;
    RemoveItems();
    cancel_item_ = bar_.addAction("Movie[Cancel]");
    cancel_item_->setObjectName("MovieCancel");
    connect(cancel_item_, &QAction::triggered, this, &MovieController::CancelMovie);
    AddStepMenu();

    // The movie draws both bands over the two-range plot below; drawn again
    // whole, it shows the frame it has reached.
    document.picture.upper.clear();
    document.picture.lower = {MovieWaveform()};
    document.Changed(Document::kPicture);
    shown_ = Shown::kAnimation;
    const render::PlotState& state = workspace_.picture().Current();
    player_->Start(render::MovieInputOf(*run, document.session), state.frames[1], state.frames[3]);
    document.picture.lower.push_back(
        [movie = player_](render::Surface& image, render::PlotState& state) {
          if (movie->DrawsOn(image)) {
            movie->Redraw(state.frames[1], state.frames[3]);
          } else {
            movie->DrawFrame(image, state.frames[1], state.frames[3]);
          }
        });
    document.Changed(Document::kPicture);
  });
}

render::Layer MovieController::MovieWaveform() const {
  const HazardRunResult& run = *workspace_.document().last_run;
  return render::MovieWaveform(render::PressurePlotOf(workspace_.document().session),
                               render::ScanEnvelope(*run.movie, run.cochlea.Places).max_hazard);
}

void MovieController::SaveMovie() {
  if (workspace_.Busy()) return;
  std::optional<std::filesystem::path> chosen;
  render::MovieExportOptions options;
  options.step = render::kMovieSteps.back();
  const bool ran = workspace_.Run("Save movie", [&] {
    const Document& document = workspace_.document();
    const std::optional<HazardRunResult>& run = document.last_run;
    if (!run || !run->movie) {
      throw Error("There is no movie yet: run Analyze > warned or unwarned first.");
    }
    if (!render::FindFfmpeg()) {
      throw Error(
          "Saving a movie needs the ffmpeg program, which was not found on PATH "
          "(on Debian: apt-get install ffmpeg).");
    }
    FileDialogRequest dialog;
    dialog.title = "Save movie";
    dialog.filters = QStringList{"MP4 video (*.mp4)", "Animated GIF (*.gif)"};
    dialog.directory = QString::fromStdString(document.SaveAsFolder().string());
    dialog.default_suffix = "mp4";
    dialog.proposed_name = QString::fromStdString(document.session.BaseName + ".mp4");
    chosen = workspace_.chooser().ChooseSaveFile(dialog);
    if (!chosen) return;
    Prompter& prompter = workspace_.prompter();
    const std::string size =
        prompter.AskText("Save movie", "Frame size in pixels (width x height):", "1280x720");
    const std::optional<QSize> parsed = render::PictureSizeNamed(size);
    if (!parsed) throw Error("\"" + size + "\" is no size: give width x height, each 16 to 8192");
    options.size = *parsed;
    const std::string step =
        prompter.AskText("Save movie", "Samples per frame (1, 2, 5, 10, 20, 50 or 100):", "100");
    const std::optional<double> samples = CellNumber(step);
    if (!samples || std::find(render::kMovieSteps.begin(), render::kMovieSteps.end(), *samples) ==
                        render::kMovieSteps.end()) {
      throw Error("\"" + step + "\" is not one of the steps 1, 2, 5, 10, 20, 50, 100");
    }
    options.step = static_cast<int>(*samples);
  });
  if (!ran || !chosen) return;
  const Document& document = workspace_.document();
  const HazardRunResult& run = *document.last_run;
  auto input =
      std::make_shared<const render::MovieInput>(render::MovieInputOf(run, document.session));
  workspace_.Start(
      "Save movie",
      [this, input, waveform = render::PressurePlotOf(document.session),
       max_hazard = render::ScanEnvelope(*run.movie, run.cochlea.Places).max_hazard, options,
       file = *chosen](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        render::SaveMovie(*input, waveform, max_hazard, options, file, worker.progress);
        return [this, file] { workspace_.ShowWritten({file}); };
      });
}

void MovieController::CancelMovie() {
  workspace_.Run("Movie[Cancel]", [this] { CloseMovie(); });
}

void MovieController::CloseMovie() {
  player_->Stop();
  RemoveItems();
  workspace_.readout().hide();
  workspace_.prompter().Inform("Information", kMovieClosingMessage);
  Document& document = workspace_.document();
  document.session.MovieAvailable = false;
  shown_ = Shown::kStapes;
  // The picture and the grid with its results come back as they were
  // before the movie's pictures replaced them.
  if (before_movie_) {
    document.picture = std::move(before_movie_->picture);
    if (before_movie_->grid) workspace_.grid().Widget().show();
    before_movie_.reset();
  }
  document.Changed(Document::kPicture);
  // The restored picture shows the pressure plot of frame 1, not the
  // two-range plot of the movie: an overlay trace must use its axes.
  workspace_.picture().Current();
  render::PlotState& state = workspace_.picture().State();
  state.frames[1] = state.frames[0];
}

QString MovieController::CochleaReadout(QPoint position) const {
  const std::optional<HazardRunResult>& run = workspace_.document().last_run;
  if (!Showing() || workspace_.picture().HelpPictureShowing() || shown_ == Shown::kStapes || !run ||
      !run->movie) {
    return {};
  }
  std::vector<float> hazard;
  if (shown_ == Shown::kAnimation) {
    hazard = player_->PlaceHazard();
  } else {
    for (int c = 1; c <= run->cochlea.Places; ++c) hazard.push_back(run->movie->At(1, c + 2));
  }
  const QImage& image = workspace_.canvas().Image();
  return render::CochleaReadoutAt(run->parameters, hazard, image.width(), image.height(), position);
}

}  // namespace korva::ui
