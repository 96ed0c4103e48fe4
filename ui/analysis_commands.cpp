// The Analyze menu (the warned and unwarned hazard runs), the movie chain the
// runs leave on the menu bar, and the protector command. The models run on
// the command runner's worker on copies; the window changes only when they
// have succeeded.
#include <QActionGroup>
#include <QMenuBar>
#include <QPainter>
#include <QSize>
#include <QStatusBar>
#include <algorithm>
#include <memory>

#include "core/common/data_dir.h"
#include "core/common/files.h"
#include "core/model/ear_model.h"
#include "core/protection/hpd_table.h"
#include "core/waveform/header_cells.h"
#include "render/movie_export.h"
#include "render/picture_export.h"
#include "render/protector_plot.h"
#include "ui/main_window.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void MainWindow::NoProtectorWarned1Click() {
  RunHazard(true);
}

void MainWindow::NoProtectorUnWarned1Click() {
  RunHazard(false);
}

void MainWindow::RunHazard(bool warned) {
  if (runner_.Busy()) return;
  ProcessPendingEdits();
  const QString name =
      warned ? "ARU(W) Auditory Risk Units, Warned" : "ARU(U) Auditory Risk Units, Unwarned";

  // What the command changes while it runs, put back if it fails or is cancelled.
  struct Before {
    std::array<bool, 9> items{};
    bool analyze = false;
    bool popup = false;
    Picture picture;
  };
  auto before = std::make_shared<Before>();
  std::optional<HazardPlan> plan;
  std::shared_ptr<Session> work;
  const bool ran = Run(name, [&] {
    HazardRunOptions options;
    options.listener = warned ? Listener::Warned : Listener::Unwarned;
    options.pool = &pool_;
    options.model_file =
        model_file_.empty() ? ModelFileFromManFig(document_.session.StartupDir) : model_file_;
    // Everything that could refuse the run is checked before anything changes.
    if (document_.session.WaveformLoaded) plan = PlanHazardRun(document_.session, options);

    for (std::size_t i = 0; i < popup_items_.size(); ++i) {
      before->items[i] = popup_items_[i]->isEnabled();
    }
    before->analyze = analyze_menu_->menuAction()->isEnabled();
    before->popup = popup_on_;
    SetPopupItemsEnabled(false);
    RestoreForm();
    if (warned) analyze_menu_->menuAction()->setEnabled(false);
    if (document_.session.MovieAvailable) CloseMovie();
    before->picture = picture_;

    // The waveform as the run will analyse it, drawn with the reflex curve
    // of the run's timing.
    work = std::make_shared<Session>(document_.session);
    work->ClearPlotFirst = true;
    if (plan) PrepareHazardSession(*plan, *work);
    if (auto plot =
            NextPressurePlot(*work, plot_, canvas_->ClientWidth(), canvas_->ClientHeight())) {
      picture_.lower = {[plot = std::move(*plot)](Surface& image, PlotState& state) {
        DrawPressurePlot(image, plot, state);
      }};
    }
    if (plan) {
      picture_.lower.push_back([last = plan->LastSample, dt = plan->SampleInterval,
                                timing = plan->timing](Surface& image, PlotState& state) {
        DrawReflexCurve(image, state, last, dt, timing);
      });
    }
    Redraw();
    progress_bar_->setValue(0);
    progress_bar_->show();
    edit1_->setText(warned ? "WARNED" : "UNWARNED");
    edit1_->show();
    if (!plan) {
      // Without a waveform opened from a KRV file there is nothing to run.
      document_.session.ClearPlotFirst = true;
      popup_on_ = true;
      analyze_menu_->menuAction()->setEnabled(document_.session.WaveformLoaded &&
                                              !document_.session.ImportedWaveform);
    } else {
      popup_on_ = false;
    }
  });
  if (!ran || !plan) return;

  auto abandon = [this, before] {
    for (std::size_t i = 0; i < popup_items_.size(); ++i) {
      popup_items_[i]->setEnabled(before->items[i]);
    }
    analyze_menu_->menuAction()->setEnabled(before->analyze);
    popup_on_ = before->popup;
    edit1_->hide();
    picture_ = before->picture;
    Redraw();
  };
  Start(
      name,
      [this, plan = *plan, work](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        auto result =
            std::make_shared<HazardRunResult>(RunHazardPlan(plan, *work, worker.progress));
        return [this, work, result] {
          document_.session = std::move(*work);
          document_.last_run = std::move(*result);
          KeepRun(*document_.last_run);
          keep_progress_bar_ = true;
          progress_bar_->setValue(kProgressSteps);
          progress_bar_->show();
          edit1_->setText(Latin1(document_.last_run->HazardText + "  A.R.U."));
          RefreshGrid();
          AddMovieItems();
          popup_on_ = true;
          analyze_menu_->menuAction()->setEnabled(document_.session.WaveformLoaded &&
                                                  !document_.session.ImportedWaveform);
          ShowWritten({document_.last_run->place_table_path});
        };
      },
      abandon);
}

// --- The movie chain ----------------------------------------------------------

std::vector<QAction*> MainWindow::MovieItems() const {
  std::vector<QAction*> items;
  if (movie_cancel_item_) items.push_back(movie_cancel_item_);
  if (movie_step_menu_) items.push_back(movie_step_menu_->menuAction());
  if (movie_next_item_) items.push_back(movie_next_item_);
  return items;
}

void MainWindow::AddMovieItems() {
  RemoveMovieItems();
  movie_cancel_item_ = menuBar()->addAction("Movie[Cancel ,");
  movie_cancel_item_->setObjectName("MovieCancel");
  connect(movie_cancel_item_, &QAction::triggered, this, &MainWindow::CancelMovieClick);
  ReplaceNextMovieItem("Stapes Displacement]", "Animate", &MainWindow::AnimateClick);
}

void MainWindow::RemoveMovieItems() {
  // Removed by the pointers kept when they were added, never by counting the
  // bar; deleted later because the click being handled may be one of them.
  for (QAction** item : {&movie_cancel_item_, &movie_next_item_}) {
    if (*item == nullptr) continue;
    menuBar()->removeAction(*item);
    (*item)->deleteLater();
    *item = nullptr;
  }
  if (movie_step_menu_ != nullptr) {
    menuBar()->removeAction(movie_step_menu_->menuAction());
    movie_step_menu_->deleteLater();
    movie_step_menu_ = nullptr;
  }
}

void MainWindow::AddMovieStepMenu() {
  movie_step_menu_ = menuBar()->addMenu("Step");
  movie_step_menu_->setObjectName("MovieStep");
  auto* group = new QActionGroup(movie_step_menu_);
  for (const int step : kMovieSteps) {
    QAction* item = movie_step_menu_->addAction(
        QString("%1 sample%2 per frame").arg(step).arg(step == 1 ? "" : "s"));
    item->setCheckable(true);
    item->setData(step);
    group->addAction(item);
    connect(item, &QAction::triggered, this, [this, step] {
      movie_->SetStep(step);
      // A paused movie shows its step in the frame's label.
      if (movie_->Paused()) Redraw();
    });
  }
  // "+" and "-" change the step behind the menu's back: checked when shown.
  connect(movie_step_menu_, &QMenu::aboutToShow, this, [this] {
    for (QAction* item : movie_step_menu_->actions()) {
      item->setChecked(item->data().toInt() == movie_->Step());
    }
  });
}

void MainWindow::ReplaceNextMovieItem(const char* caption, const char* name, Slot step) {
  if (movie_next_item_ != nullptr) {
    menuBar()->removeAction(movie_next_item_);
    movie_next_item_->deleteLater();
  }
  movie_next_item_ = menuBar()->addAction(caption);
  movie_next_item_->setObjectName(name);
  connect(movie_next_item_, &QAction::triggered, this, step);
}

void MainWindow::AnimateClick() {
  Run("Stapes Displacement", [this] {
    const std::optional<HazardRunResult>& run = document_.last_run;
    if (!run || !run->movie || movie_next_item_ == nullptr) return;
    keep_progress_bar_ = false;
    progress_bar_->hide();
    if (!before_movie_) before_movie_ = BeforeMovie{picture_, grid_->isVisible()};
    grid_->hide();
    cochlea_shown_ = CochleaShown::kNone;
    const Session& session = document_.session;
    picture_.upper = {[movie = run->movie,
                       last_frame = LastMovieFrame(session.LastSample, run->cochlea.FftLength),
                       dt = session.SampleInterval,
                       start = session.StartTime](Surface& image, PlotState&) {
      PlotStDispTime(image, *movie, last_frame, dt, start);
    }};
    Redraw();
    ReplaceNextMovieItem("Unwrap Cochlea]", "UnwrapCochlea", &MainWindow::UnwrapCochleaClick);
  });
}

void MainWindow::UnwrapCochleaClick() {
  Run("Unwrap Cochlea", [this] {
    const std::optional<HazardRunResult>& run = document_.last_run;
    if (!run || !run->movie || movie_next_item_ == nullptr) return;
    // The movie replays the run with the parameters the run used.
    picture_.upper = {[movie = run->movie, params = run->parameters, places = run->cochlea.Places](
                          Surface& image, PlotState& state) {
      const auto frames = PlotBMDispSpace(image, params, ScanEnvelope(*movie, places));
      state.frames[2] = frames[1];
      DrawEnvelope(image, frames, *movie, params, places);
    }};
    picture_.lower = {MoviePressurePlot()};
    cochlea_shown_ = CochleaShown::kRun;
    Redraw();
    ReplaceNextMovieItem("Hazard Animation]", "HazardAnimation", &MainWindow::MovieStartClick);
  });
}

void MainWindow::MovieStartClick() {
  Run("Hazard Animation", [this] {
    const std::optional<HazardRunResult>& run = document_.last_run;
    if (!run || !run->movie || movie_next_item_ == nullptr) return;
    RemoveMovieItems();
    movie_cancel_item_ = menuBar()->addAction("Movie[Cancel]");
    movie_cancel_item_->setObjectName("MovieCancel");
    connect(movie_cancel_item_, &QAction::triggered, this, &MainWindow::CancelMovieClick);
    AddMovieStepMenu();

    MovieInput input = MovieInputOf(*run, document_.session);

    // The movie draws both bands over the two-range plot below; drawn again
    // whole, it shows the frame it has reached.
    picture_.upper.clear();
    picture_.lower = {MoviePressurePlot()};
    cochlea_shown_ = CochleaShown::kMovie;
    Redraw();
    movie_->Start(std::move(input), plot_.frames[1], plot_.frames[3]);
    picture_.lower.push_back([movie = movie_](Surface& image, PlotState& state) {
      if (movie->DrawsOn(image)) {
        movie->Redraw(state.frames[1], state.frames[3]);
      } else {
        movie->DrawFrame(image, state.frames[1], state.frames[3]);
      }
    });
    canvas_->update();
  });
}

Layer MainWindow::MoviePressurePlot() const {
  const HazardRunResult& run = *document_.last_run;
  return [waveform = PressurePlotOf(document_.session),
          max_hazard = ScanEnvelope(*run.movie, run.cochlea.Places).max_hazard](Surface& image,
                                                                                PlotState& state) {
    PressureTimePlot2(image, waveform, state, max_hazard);
  };
}

void MainWindow::SaveMovie1Click() {
  if (runner_.Busy()) return;
  std::optional<fs::path> chosen;
  MovieExportOptions options;
  options.step = kMovieSteps.back();
  const bool ran = Run("Save movie", [&] {
    const std::optional<HazardRunResult>& run = document_.last_run;
    if (!run || !run->movie) {
      throw Error("There is no movie yet: run Analyze > warned or unwarned first.");
    }
    if (!FindFfmpeg()) {
      throw Error(
          "Saving a movie needs the ffmpeg program, which was not found on PATH "
          "(on Debian: apt-get install ffmpeg).");
    }
    FileDialogRequest dialog;
    dialog.title = "Save movie";
    dialog.filters = QStringList{"MP4 video (*.mp4)", "Animated GIF (*.gif)"};
    dialog.directory = QString::fromStdString(document_.SaveAsFolder().string());
    dialog.default_suffix = "mp4";
    dialog.proposed_name = QString::fromStdString(document_.session.BaseName + ".mp4");
    chosen = chooser_.ChooseSaveFile(dialog);
    if (!chosen) return;
    const std::string size =
        prompter_.AskText("Save movie", "Frame size in pixels (width x height):", "1280x720");
    const std::optional<QSize> parsed = PictureSizeNamed(size);
    if (!parsed) throw Error("\"" + size + "\" is no size: give width x height, each 16 to 8192");
    options.size = *parsed;
    const std::string step =
        prompter_.AskText("Save movie", "Samples per frame (1, 2, 5, 10, 20, 50 or 100):", "100");
    const std::optional<double> samples = CellNumber(step);
    if (!samples ||
        std::find(kMovieSteps.begin(), kMovieSteps.end(), *samples) == kMovieSteps.end()) {
      throw Error("\"" + step + "\" is not one of the steps 1, 2, 5, 10, 20, 50, 100");
    }
    options.step = static_cast<int>(*samples);
  });
  if (!ran || !chosen) return;
  const HazardRunResult& run = *document_.last_run;
  auto input = std::make_shared<const MovieInput>(MovieInputOf(run, document_.session));
  Start("Save movie",
        [this, input, waveform = PressurePlotOf(document_.session),
         max_hazard = ScanEnvelope(*run.movie, run.cochlea.Places).max_hazard, options,
         file = *chosen](CommandRunner::Worker& worker) -> CommandRunner::Commit {
          SaveMovie(*input, waveform, max_hazard, options, file, worker.progress);
          return [this, file] { ShowWritten({file}); };
        });
}

void MainWindow::CancelMovieClick() {
  Run("Movie[Cancel]", [this] { CloseMovie(); });
}

void MainWindow::CloseMovie() {
  movie_->Stop();
  RemoveMovieItems();
  edit1_->hide();
  prompter_.Inform("Information", kMovieClosingMessage);
  document_.session.MovieAvailable = false;
  cochlea_shown_ = CochleaShown::kNone;
  // The picture and the grid with its results come back as they were
  // before the movie's pictures replaced them.
  if (before_movie_) {
    picture_ = std::move(before_movie_->picture);
    if (before_movie_->grid) grid_->show();
    before_movie_.reset();
  }
  Redraw();
  // The restored picture shows the pressure plot of frame 1, not the
  // two-range plot of the movie: an overlay trace must use its axes.
  plot_.frames[1] = plot_.frames[0];
}

// --- The protector command ------------------------------------------------------

void MainWindow::GetHPDData(int record_index) {
  if (runner_.Busy()) return;
  ProcessPendingEdits();
  ProtectOptions options;
  options.seed_folder = options_.data_dir;
  options.output_folder = document_.output_folder;
  options.chosen_file_name = document_.chosen_file.filename().string();
  options.record_index = record_index;
  QString name = "APPLY HEARING PROTECTION";
  for (const QAction* item : protector_items_) {
    if (item->data().toInt() == record_index) {
      const QByteArray text = item->text().toLatin1();
      options.expected_name = std::string(text.constData(), static_cast<std::size_t>(text.size()));
      name = item->text();
    }
  }
  const bool popup_before = popup_on_;
  EarModelParameters parameters;
  const bool ran = Run(name, [&] {
    // The picture starts from the window as it was before the menu opened.
    RestoreForm();
    // The program's own table is rewritten as the user's copy.
    options.table = DataFileForWriting(options_.data_dir, kProtectorTableName);
    parameters = ReadEarModelFile(
        model_file_.empty() ? ModelFileFromManFig(document_.session.StartupDir) : model_file_);
    popup_on_ = false;
  });
  if (!ran) return;

  // The command reads the session and changes a copy of the protector state;
  // both are the document's again only when it succeeds.
  auto input = std::make_shared<const Session>(document_.session);
  auto state = std::make_shared<ProtectorCommandState>(document_.protector_state);
  Start(
      name,
      [this, input, state, parameters, options, popup_before,
       name](CommandRunner::Worker& worker) -> CommandRunner::Commit {
        auto result = std::make_shared<ProtectResult>(
            korva::GetHPDData(*input, *state, parameters, options, worker.progress));
        return [this, state, result, popup_before, name, table = options.table] {
          document_.protector_state = *state;
          popup_on_ = popup_before;
          // The picture fills the upper half, where the header grid would hide
          // it; its caption is the record's name.
          grid_->hide();
          picture_.upper = {[plot = result->plot, title = result->data.record.name](
                                Surface& image, PlotState& state) {
            state.frames[2] = DrawProtectorModel(image, plot, title);
          }};
          Redraw();
          SaveForm();
          if (!plot_.frame2_set) PressureTimePlot();
          picture_.lower.push_back(
              [samples = std::make_shared<const std::vector<float>>(result->eardrum),
               dt = document_.session.SampleInterval,
               start = document_.session.StartTime](Surface& image, PlotState& state) {
                DrawPredictedWaveform(image, state, *samples, dt, start);
              });
          Redraw();
          document_.new_spectrum_scale = true;
          ShowWritten({result->output, result->table_error.empty() ? table : fs::path()});
          if (!result->table_error.empty()) {
            prompter_.ShowError(name.toStdString(), result->table_error);
          }
          document_.last_protection = std::move(*result);
        };
      },
      [this, popup_before] { popup_on_ = popup_before; });
}

}  // namespace korva::ui
