#include "ui/protector_choice_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/workspace.h"

namespace korva::ui {

ProtectorChoiceDialog::ProtectorChoiceDialog(const std::vector<std::string>& all,
                                             const std::vector<std::string>& chosen,
                                             QWidget* parent)
    : QDialog(parent) {
  setObjectName("ReportProtectorsDialog");
  setWindowTitle("Report protectors");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel("Under each protector ticked, the exported report also runs the ear model on the\n"
                 "waveform predicted at the eardrum (the protector table is not rewritten).",
                 this));
  list_ = new QListWidget(this);
  list_->setObjectName("ReportProtectorList");
  for (const std::string& name : all) {
    auto* item = new QListWidgetItem(Latin1(name), list_);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    const bool ticked = std::find(chosen.begin(), chosen.end(), name) != chosen.end();
    item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  }
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* none = buttons->addButton("None", QDialogButtonBox::ResetRole);
  connect(none, &QPushButton::clicked, this, [this] {
    for (int k = 0; k < list_->count(); ++k) list_->item(k)->setCheckState(Qt::Unchecked);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

std::vector<std::string> ProtectorChoiceDialog::Chosen() const {
  std::vector<std::string> chosen;
  for (int k = 0; k < list_->count(); ++k) {
    const QListWidgetItem* item = list_->item(k);
    if (item->checkState() == Qt::Checked) chosen.push_back(item->text().toLatin1().toStdString());
  }
  return chosen;
}

}  // namespace korva::ui
