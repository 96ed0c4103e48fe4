// The File menu: Open, Import, Save, Save As and the clipboard copies, and
// opening a file named on the command line, dropped on the window or picked
// from the recent files. Reading and writing run on the command runner's
// worker on a copy of the session, which replaces the document's only when
// the command succeeded.
#include <QClipboard>
#include <QGuiApplication>
#include <QStatusBar>
#include <memory>

#include "core/common/files.h"
#include "core/waveform/import.h"
#include "core/waveform/krv.h"
#include "render/picture_export.h"
#include "ui/main_window.h"

namespace korva::ui {
namespace {

namespace fs = std::filesystem;

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The name part of `path` up to its first "." (a leading dot is kept).
std::string NameToFirstDot(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::size_t dot = name.find('.', 1);
  return dot == std::string::npos ? name : name.substr(0, dot);
}

constexpr const char* kOpenName = "Open KRV waveform";
constexpr const char* kImportName = "Import waveform";

}  // namespace

FileDialogRequest MainWindow::KrvOpenDialog() const {
  FileDialogRequest dialog;
  dialog.title = "Korva Files";
  dialog.filters = QStringList{"Prepared waveforms (*.KRV *.krv)", "All Files (*)"};
  dialog.directory = QString::fromStdString(document_.open_folder.string());
  // Centred and nearly full height, as a timer placed it on Windows.
  dialog.place_centred = true;
  return dialog;
}

void MainWindow::OpenKRVwaveform1Click() {
  std::optional<fs::path> chosen;
  const bool ran = Run(kOpenName, [this, &chosen] {
    SetPopupItemsEnabled(true);
    RestoreForm();
    if (document_.session.MovieAvailable) CloseMovie();
    place_next_dialog_ = true;
    chosen = chooser_.ChooseOpenFile(KrvOpenDialog());
    place_next_dialog_ = false;
    RestoreForm();
  });
  if (ran && chosen) OpenChosen(*chosen);
}

void MainWindow::OpenChosen(const fs::path& chosen) {
  auto work = std::make_shared<Session>(document_.session);
  Start(kOpenName, [this, work, chosen](CommandRunner::Worker& worker) -> CommandRunner::Commit {
    try {
      OpenWaveform(*work, chosen, worker.progress);
    } catch (const Cancelled&) {
      throw;
    } catch (const Error& e) {
      throw Error(FileErrorText(chosen, e.what()));
    }
    return [this, work, chosen] {
      document_.session = std::move(*work);
      Session& session = document_.session;
      popup_on_ = true;
      plot_.TraceCount = 1;
      document_.new_spectrum_scale = true;
      document_.pending = {};
      document_.runs = {};
      document_.chosen_file = chosen;
      const fs::path folder = chosen.parent_path();
      document_.output_folder = folder;
      document_.krv_folder = folder;
      document_.work_folder = folder;
      document_.open_folder = session.WaveformDir;
      setWindowTitle(QString(kOpenCaption) + Latin1(session.BaseName));
      import_layout_ = false;
      LayoutReadouts();
      RefreshGrid();
      grid_->show();
      edit1_->hide();
      // The start-up picture would show between the grid and the plot.
      picture_.background = {};
      PressureTimePlot();
      analyze_menu_->menuAction()->setEnabled(true);
      overlay_action_->setEnabled(true);
      save_action_->setEnabled(true);
      save_as_action_->setEnabled(true);
      save_wav_action_->setEnabled(true);
      SaveForm();
      RememberRecent(chosen);
    };
  });
}

void MainWindow::Importwaveform1Click() {
  std::optional<fs::path> chosen;
  const bool ran = Run(kImportName, [this, &chosen] {
    SetPopupItemsEnabled(true);
    if (document_.session.MovieAvailable) CloseMovie();
    FileDialogRequest dialog;
    dialog.title = "Korva Files";
    dialog.filters = QStringList{"All files (*)", "WAV files (*.WAV *.wav)"};
    dialog.directory = QString::fromStdString(document_.open_folder.string());
    // Only Open places its dialog, and the very first dialog after start-up.
    dialog.place_centred = place_next_dialog_;
    chosen = chooser_.ChooseOpenFile(dialog);
    place_next_dialog_ = false;
  });
  if (ran && chosen) ImportChosen(*chosen);
}

void MainWindow::ImportChosen(const fs::path& chosen) {
  // The next dialog starts in the folder of this recording.
  document_.open_folder = chosen.parent_path();
  auto work = std::make_shared<Session>(document_.session);
  Start(kImportName, [this, work, chosen](CommandRunner::Worker& worker) -> CommandRunner::Commit {
    ImportOutcome outcome;
    try {
      outcome = ImportWaveform(*work, chosen, worker.prompter, worker.progress);
    } catch (const Cancelled&) {
      throw;
    } catch (const Error& e) {
      throw Error(FileErrorText(chosen, e.what()));
    }
    if (outcome == ImportOutcome::kCancelled) return {};
    return [this, work, chosen] {
      document_.session = std::move(*work);
      Session& session = document_.session;
      plot_.TraceCount = 1;
      document_.new_spectrum_scale = true;
      document_.pending = {};
      session.ClearPlotFirst = true;
      document_.chosen_file = chosen;
      document_.output_folder = chosen.parent_path();
      document_.krv_folder.clear();
      import_layout_ = true;
      LayoutReadouts();
      RefreshGrid();
      grid_->show();
      setWindowTitle(QString(kImportCaption) + Latin1(session.DataFileName));
      popup_on_ = true;
      analyze_menu_->menuAction()->setEnabled(false);
      save_action_->setEnabled(false);
      save_as_action_->setEnabled(true);
      // A foreign recording has no KRV file to compare against.
      overlay_action_->setEnabled(false);
      picture_.background = {};
      PressureTimePlot();
      SaveForm();
      RememberRecent(chosen);
    };
  });
}

void MainWindow::OpenFile(const fs::path& file) {
  if (runner_.Busy()) {
    statusBar()->showMessage(
        "A command is running: " + QString::fromStdString(file.string()) + " was not opened",
        kStatusMilliseconds);
    return;
  }
  const bool krv = ToUpperAscii(file.extension().string()) == ".KRV";
  const bool ran = Run(krv ? kOpenName : kImportName, [this] {
    SetPopupItemsEnabled(true);
    RestoreForm();
    if (document_.session.MovieAvailable) CloseMovie();
  });
  if (!ran) return;
  if (krv) {
    OpenChosen(file);
  } else {
    ImportChosen(file);
  }
}

void MainWindow::SaveKRVwaveform1Click() {
  if (runner_.Busy()) return;
  ProcessPendingEdits();
  auto work = std::make_shared<Session>(document_.session);
  Start("Save KRV waveform", [this, work](CommandRunner::Worker&) -> CommandRunner::Commit {
    const fs::path target = WaveformPath(*work);
    try {
      SaveKrv(*work);
    } catch (const Error& e) {
      throw Error(FileErrorText(target, e.what()));
    }
    return [this, work, target] { CommitSave(std::move(*work), target); };
  });
}

void MainWindow::CommitSave(Session saved, const fs::path& written) {
  // The saved waveform is no longer the one analysed: the plot and the grid
  // go until the next Open.
  document_.session = std::move(saved);
  document_.work_folder = written.parent_path();
  picture_ = {};
  Redraw();
  grid_->hide();
  analyze_menu_->menuAction()->setEnabled(false);
  ShowWritten({written});
}

void MainWindow::SaveKRVwaveformas1Click() {
  if (runner_.Busy()) return;
  ProcessPendingEdits();
  std::optional<fs::path> chosen;
  const bool ran = Run("Save KRV waveform as", [this, &chosen] {
    if (document_.session.LastSample >= kMaxSaveAsSamples) {
      prompter_.ShowError("Save KRV waveform as",
                          "Waveforms longer than 1,048,576 samples cannot be saved with Save As.");
      return;
    }
    FileDialogRequest dialog;
    dialog.title = "Save As";
    dialog.filters = QStringList{"Auditorialy hazardous waveforms (*.KRV *.krv)"};
    dialog.directory = QString::fromStdString(document_.SaveAsFolder().string());
    dialog.default_suffix = "KRV";
    dialog.proposed_name = document_.chosen_file.empty()
                               ? QString()
                               : Latin1(NameToFirstDot(document_.chosen_file) + ".KRV");
    chosen = chooser_.ChooseSaveFile(dialog);
    if (chosen) {
      // The name written is cut at its first "."; when that differs from the
      // name the dialog confirmed, ask again before replacing another file.
      const fs::path written = chosen->parent_path() / (NameToFirstDot(*chosen) + ".KRV");
      const fs::path existing = ResolveCaseInsensitive(written);
      if (written.filename() != chosen->filename() && PathExists(existing) &&
          !prompter_.AskOkCancel(
              "Confirm", existing.string() + " already exists.\r\nDo you want to replace it?")) {
        chosen.reset();
      }
    }
    if (!chosen) analyze_menu_->menuAction()->setEnabled(false);
  });
  if (!ran || !chosen) return;
  auto work = std::make_shared<Session>(document_.session);
  const fs::path target = *chosen;
  Start("Save KRV waveform as",
        [this, work, target](CommandRunner::Worker&) -> CommandRunner::Commit {
          fs::path written;
          try {
            written = SaveKrvAs(*work, target);
          } catch (const Error& e) {
            throw Error(FileErrorText(target, e.what()));
          }
          return [this, work, written] {
            work->WaveformDir = written.parent_path().string();
            CommitSave(std::move(*work), written);
          };
        });
}

void MainWindow::SaveWAVwaveform1Click() {
  Run("Save WAV waveform", [this] {
    // A save that silently wrote nothing could be taken for a saved file.
    prompter_.Inform("Information", "Saving WAV files is not available.");
  });
}

void MainWindow::Copyscreentoclipboard1Click() {
  // What the user sees of the client area: the picture with the grid, the
  // read-outs and the buttons standing on it.
  Run(
      "Copy screen to clipboard",
      [this] { QGuiApplication::clipboard()->setImage(canvas_->grab().toImage()); },
      MovieEffect::kKeepsPlaying);
}

void MainWindow::CopyWaveformToClipboard1Click() {
  const int half = canvas_->Image().height() / 2;
  CopyCanvasRows(half, half);
}

void MainWindow::Copyospectrumtoclipboard1Click() {
  CopyCanvasRows(0, canvas_->Image().height() / 2);
}

void MainWindow::CopyCanvasRows(int top, int height) {
  // A copy draws nothing, so a playing movie goes on: this is how a user
  // captures one of its frames.
  Run(
      "Copy to clipboard",
      [this, top, height] {
        const QImage& image = canvas_->Image();
        QGuiApplication::clipboard()->setImage(image.copy(0, top, image.width(), height));
      },
      MovieEffect::kKeepsPlaying);
}

void MainWindow::ExportPicture1Click() {
  // Drawn again from the picture's description, so nothing on the screen
  // changes and a playing movie goes on.
  Run(
      "Export picture",
      [this] {
        FileDialogRequest dialog;
        dialog.title = "Export picture";
        dialog.filters =
            QStringList{"PNG picture (*.png)", "SVG drawing (*.svg)", "PDF document (*.pdf)"};
        dialog.directory = QString::fromStdString(document_.SaveAsFolder().string());
        dialog.default_suffix = "png";
        dialog.proposed_name = document_.chosen_file.empty()
                                   ? QString("picture.png")
                                   : Latin1(NameToFirstDot(document_.chosen_file) + ".png");
        const std::optional<fs::path> chosen = chooser_.ChooseSaveFile(dialog);
        if (!chosen) return;
        const std::optional<PictureFormat> format = PictureFormatOfFile(*chosen);
        if (!format) {
          throw Error(chosen->filename().string() +
                      ": the name must end in .png, .svg or .pdf, which says the format");
        }
        // What the plot area shows: the lower band where the grid covers
        // the upper one, else the whole client area.
        const QSize window(canvas_->ClientWidth(), canvas_->ClientHeight());
        QSize client = window;
        if (*format == PictureFormat::kPng) {
          const std::string proposed =
              std::to_string(window.width()) + "x" + std::to_string(window.height());
          const std::string answer = prompter_.AskText(
              "Export picture",
              "Size of the window to draw, in pixels (width x height):", proposed);
          const std::optional<QSize> size = PictureSizeNamed(answer);
          if (!size) {
            throw Error("\"" + answer + "\" is no size: give width x height, each 16 to 8192");
          }
          client = *size;
        }
        PictureExport what;
        what.picture = &picture_;
        what.state = plot_;
        what.client = client;
        what.shown = grid_->isVisible() ? QRect(0, client.height() / 2, client.width(),
                                                client.height() - client.height() / 2)
                                        : QRect(QPoint(0, 0), client);
        what.title = document_.session.WaveformTitle;
        ExportPicture(what, *format, *chosen);
        ShowWritten({*chosen});
      },
      MovieEffect::kKeepsPlaying);
}

}  // namespace korva::ui
