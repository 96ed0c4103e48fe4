// Hearing protection: the pop-up menu's "APPLY HEARING PROTECTION" with one
// item per default-mode record of the protector table and its HELP picture,
// the protector command (the insertion-loss picture above, the waveform
// predicted at the eardrum over the pressure plot, the protected KRV file),
// and File > Overlay KRV waveform, which compares a second recording of the
// same event band by band.
#pragma once

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QObject>
#include <vector>

#include "ui/edit_controller.h"
#include "ui/movie_controller.h"
#include "ui/workspace.h"

namespace korva::ui {

class ProtectorController : public QObject {
  Q_OBJECT

 public:
  ProtectorController(Workspace& workspace, EditController& edits, MovieController& movie,
                      QObject* parent = nullptr);

  QAction* AddOverlayItem(QMenu& file);
  // "APPLY HEARING PROTECTION" with its submenus; returns its menu item.
  QAction* AddPopupItems(QMenu& popup);

  // One item per default-mode record of the protector table under "DEFAULT
  // MODE" after "HELP". Throws StartupError naming the table.
  void LoadProtectorItems();
  const std::vector<QAction*>& ProtectorItems() const { return protector_items_; }
  void SetHelpPicture(QImage picture) { help_picture_ = std::move(picture); }
  // The help picture goes at the next press on the window, and the grid it
  // covered comes back.
  void EndHelp();

 public slots:
  // The submenu opens: a task without read-outs for the lines, and the
  // window as it was before the pop-up menu opened.
  void PrepareProtectorMenu();
  void ShowProtectorHelp();
  // The protector command for record `record_index` of the protector table.
  void ApplyProtector(int record_index);
  // Compares the loaded waveform with a second KRV file of the same event.
  void OverlayWaveform();

 private:
  Workspace& workspace_;
  EditController& edits_;
  MovieController& movie_;
  QMenu* default_mode_menu_ = nullptr;
  std::vector<QAction*> protector_items_;
  QAction* overlay_ = nullptr;
  QImage help_picture_;
  // The grid was showing before the help picture hid it.
  bool grid_before_help_ = false;
};

}  // namespace korva::ui
