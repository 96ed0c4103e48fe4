// File > "Report protectors...": the protectors of the table whose
// predicted eardrum waveform the exported report runs through the ear
// model, ticked in a list. The window keeps the choice for the session.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <string>
#include <vector>

namespace korva::ui {

class ProtectorChoiceDialog : public QDialog {
  Q_OBJECT

 public:
  // One check box per protector of `all` (the table's default-mode
  // records), ticked for those in `chosen`.
  ProtectorChoiceDialog(const std::vector<std::string>& all, const std::vector<std::string>& chosen,
                        QWidget* parent = nullptr);

  // The ticked protectors, in the table's order.
  std::vector<std::string> Chosen() const;
  QListWidget* List() const { return list_; }

 private:
  QListWidget* list_ = nullptr;
};

}  // namespace korva::ui
