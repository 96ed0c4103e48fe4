// File > Open recording: what the chosen sound or MATLAB file holds (read
// from its header, no samples), and the channel, part and calibration the
// user wants of it. The dialog asks; FileController reads.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStackedWidget>
#include <QWidget>
#include <filesystem>
#include <optional>

#include "core/recording/recording.h"
#include "core/recording/request.h"

namespace korva::ui {

class RecordingDialog : public QDialog {
  Q_OBJECT

 public:
  // The calibrations offered, in the order of the "Calibration" list.
  enum CalibrationChoice { kNone, kScale, kSensitivity, kCalibrator };

  // Reads the header of `path` at once; a MATLAB file is read again when its
  // variable or rate is named.
  RecordingDialog(std::filesystem::path path, QWidget* parent = nullptr);

  // What the file holds, as last read (nothing while it cannot be read).
  const std::optional<RecordingInfo>& Info() const { return info_; }
  // The request as filled in. Only valid after the dialog was accepted.
  RecordingRequest Request() const;
  // Why the request cannot be read as it stands, or empty when it can.
  QString Problem() const;

 public slots:
  void accept() override;

 private:
  void Probe();
  void ShowInfo();
  void Revalidate();
  SourceOptions Source() const;
  QWidget* CalibrationPage(CalibrationChoice choice);

  std::filesystem::path path_;
  std::optional<RecordingInfo> info_;
  QString probe_problem_;

  QLabel* info_label_ = nullptr;
  QWidget* mat_box_ = nullptr;
  QLineEdit* variable_ = nullptr;
  QLineEdit* mat_rate_ = nullptr;
  QLineEdit* rate_variable_ = nullptr;
  QSpinBox* channel_ = nullptr;
  QDoubleSpinBox* from_ = nullptr;
  QDoubleSpinBox* to_ = nullptr;
  QComboBox* calibration_ = nullptr;
  QStackedWidget* calibration_pages_ = nullptr;
  QLineEdit* scale_ = nullptr;
  QDoubleSpinBox* sensitivity_ = nullptr;
  QDoubleSpinBox* full_scale_ = nullptr;
  QLineEdit* calibrator_ = nullptr;
  QDoubleSpinBox* calibrator_level_ = nullptr;
  QSpinBox* calibrator_channel_ = nullptr;  // -1: the channel being read
  QDoubleSpinBox* calibrator_frequency_ = nullptr;
  QLabel* problem_label_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

}  // namespace korva::ui
