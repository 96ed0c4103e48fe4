#include "ui/recording_dialog.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/waveform/krv.h"

namespace korva::ui {
namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

QDoubleSpinBox* NumberBox(double low, double high, int decimals, double value,
                          const QString& suffix) {
  auto* box = new QDoubleSpinBox;
  box->setRange(low, high);
  box->setDecimals(decimals);
  box->setValue(value);
  box->setSuffix(suffix);
  box->setKeyboardTracking(false);
  return box;
}

// A positive finite number typed into `edit`, or nothing.
std::optional<double> PositiveNumber(const QLineEdit& edit) {
  const std::optional<double> value = ParseWholeNumber(edit.text().trimmed().toStdString());
  if (value && std::isfinite(*value) && *value > 0.0) return value;
  return std::nullopt;
}

}  // namespace

RecordingDialog::RecordingDialog(std::filesystem::path path, QWidget* parent)
    : QDialog(parent), path_(std::move(path)) {
  setObjectName("OpenRecordingDialog");
  setWindowTitle("Open recording: " + Text(path_.filename().string()));
  auto* layout = new QVBoxLayout(this);

  info_label_ = new QLabel;
  info_label_->setObjectName("RecordingInfo");
  info_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(info_label_);

  // A MATLAB file says neither which variable holds the samples nor, always,
  // its rate: the user names them and the header is read again.
  mat_box_ = new QWidget;
  auto* mat = new QFormLayout(mat_box_);
  mat->setContentsMargins(0, 0, 0, 0);
  variable_ = new QLineEdit;
  variable_->setObjectName("Variable");
  variable_->setPlaceholderText("the one numeric variable that is not a scalar");
  mat_rate_ = new QLineEdit;
  mat_rate_->setObjectName("MatRate");
  rate_variable_ = new QLineEdit;
  rate_variable_->setObjectName("RateVariable");
  mat->addRow("Variable", variable_);
  mat->addRow("Rate (samples/s)", mat_rate_);
  mat->addRow("or rate variable", rate_variable_);
  for (QLineEdit* edit : {variable_, mat_rate_, rate_variable_}) {
    connect(edit, &QLineEdit::editingFinished, this, &RecordingDialog::Probe);
  }
  layout->addWidget(mat_box_);

  auto* form = new QFormLayout;
  channel_ = new QSpinBox;
  channel_->setObjectName("Channel");
  form->addRow("Channel (from 0)", channel_);
  from_ = NumberBox(0.0, 0.0, 6, 0.0, " s");
  from_->setObjectName("From");
  to_ = NumberBox(0.0, 0.0, 6, 0.0, " s");
  to_->setObjectName("To");
  form->addRow("From", from_);
  form->addRow("To", to_);

  calibration_ = new QComboBox;
  calibration_->setObjectName("Calibration");
  calibration_->addItems({"None: the file's own units", "Scale: pascals per unit",
                          "Microphone sensitivity", "Sound calibrator recording"});
  form->addRow("Calibration", calibration_);
  layout->addLayout(form);

  calibration_pages_ = new QStackedWidget;
  for (CalibrationChoice choice : {kNone, kScale, kSensitivity, kCalibrator}) {
    calibration_pages_->addWidget(CalibrationPage(choice));
  }
  connect(calibration_, &QComboBox::currentIndexChanged, calibration_pages_,
          &QStackedWidget::setCurrentIndex);
  layout->addWidget(calibration_pages_);

  problem_label_ = new QLabel;
  problem_label_->setObjectName("Problem");
  problem_label_->setWordWrap(true);
  problem_label_->setStyleSheet("color: #b00000");
  layout->addWidget(problem_label_);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons_->button(QDialogButtonBox::Ok)->setText("Open");
  connect(buttons_, &QDialogButtonBox::accepted, this, &RecordingDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &RecordingDialog::reject);
  layout->addWidget(buttons_);

  for (QDoubleSpinBox* box : {from_, to_}) {
    connect(box, &QDoubleSpinBox::valueChanged, this, &RecordingDialog::Revalidate);
  }
  connect(calibration_, &QComboBox::currentIndexChanged, this, &RecordingDialog::Revalidate);
  for (QLineEdit* edit : {scale_, calibrator_}) {
    connect(edit, &QLineEdit::textChanged, this, &RecordingDialog::Revalidate);
  }
  Probe();
}

QWidget* RecordingDialog::CalibrationPage(CalibrationChoice choice) {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  form->setContentsMargins(0, 0, 0, 0);
  switch (choice) {
    case kNone:
      form->addRow(
          new QLabel("Integer samples as their integer values, floating-point samples "
                     "as they are, taken as pascals."));
      break;
    case kScale:
      // Typed as a number, not stepped: a scale such as 3.0517578125e-05 keeps
      // all its digits.
      scale_ = new QLineEdit("1");
      scale_->setObjectName("Scale");
      form->addRow("Pascals per unit", scale_);
      break;
    case kSensitivity:
      sensitivity_ = NumberBox(0.001, 100000.0, 3, 50.0, " mV/Pa");
      sensitivity_->setObjectName("Sensitivity");
      full_scale_ = NumberBox(0.001, 1000.0, 3, 1.0, " V");
      full_scale_->setObjectName("FullScale");
      form->addRow("Sensitivity", sensitivity_);
      form->addRow("Full scale", full_scale_);
      break;
    case kCalibrator: {
      calibrator_ = new QLineEdit;
      calibrator_->setObjectName("Calibrator");
      auto* browse = new QPushButton("Browse...");
      connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, "Calibrator recording",
                                                          Text(path_.parent_path().string()));
        if (!file.isEmpty()) calibrator_->setText(file);
      });
      auto* row = new QHBoxLayout;
      row->addWidget(calibrator_);
      row->addWidget(browse);
      form->addRow("Recording", row);
      calibrator_level_ = NumberBox(60.0, 180.0, 2, 114.0, " dB");
      calibrator_level_->setObjectName("CalibratorLevel");
      form->addRow("Level", calibrator_level_);
      calibrator_channel_ = new QSpinBox;
      calibrator_channel_->setObjectName("CalibratorChannel");
      calibrator_channel_->setRange(-1, 255);
      calibrator_channel_->setValue(-1);
      calibrator_channel_->setSpecialValueText("the channel above, else the first");
      form->addRow("Channel", calibrator_channel_);
      calibrator_frequency_ = NumberBox(10.0, 20000.0, 1, kCalibratorNominalHz, " Hz");
      calibrator_frequency_->setObjectName("CalibratorFrequency");
      form->addRow("Frequency", calibrator_frequency_);
      break;
    }
  }
  return page;
}

SourceOptions RecordingDialog::Source() const {
  SourceOptions source;
  const QString variable = variable_->text().trimmed();
  if (!variable.isEmpty()) source.variable = variable.toStdString();
  if (mat_rate_->text().trimmed().isEmpty()) {
    // An empty field is no rate; an unreadable one is shown as a problem.
  } else if (const auto rate = PositiveNumber(*mat_rate_)) {
    source.rate = rate;
  }
  const QString rate_variable = rate_variable_->text().trimmed();
  if (!rate_variable.isEmpty()) source.rate_variable = rate_variable.toStdString();
  return source;
}

void RecordingDialog::Probe() {
  info_.reset();
  probe_problem_.clear();
  try {
    info_ = ProbeRecording(path_, Source());
    if (!info_) {
      probe_problem_ = Text(path_.string()) +
                       ": not a sound file or MATLAB file: File > Import reads text and raw "
                       "binary files";
    }
  } catch (const Error& e) {
    probe_problem_ = Text(e.what());
  }
  const bool mat = (info_ && info_->format.rfind("MAT", 0) == 0) ||
                   QString::fromStdString(path_.extension().string()).toLower() == ".mat";
  mat_box_->setVisible(mat);
  ShowInfo();
  Revalidate();
}

void RecordingDialog::ShowInfo() {
  if (!info_) {
    info_label_->setText(Text(path_.filename().string()));
    for (QWidget* field : std::initializer_list<QWidget*>{channel_, from_, to_}) {
      field->setEnabled(false);
    }
    return;
  }
  const RecordingInfo& info = *info_;
  QString text = Text(path_.filename().string()) + "\n" + Text(info.Description()) + "\n";
  if (info.rate > 0.0) {
    const std::string rate = info.rate == std::floor(info.rate)
                                 ? FormatInteger(static_cast<long long>(info.rate))
                                 : FormatShortest(info.rate);
    text += Text(rate) + " samples/s, " + Text(FormatFixed(info.Seconds(), 3)) + " s (" +
            Text(FormatInteger(info.frames)) + " frames)";
  } else {
    text += Text(FormatInteger(info.frames)) + " frames, rate unknown: " + Text(info.rate_problem);
  }
  info_label_->setText(text);

  channel_->setEnabled(true);
  channel_->setRange(0, std::max(0, info.channels - 1));
  const bool timed = info.rate > 0.0;
  from_->setEnabled(timed);
  to_->setEnabled(timed);
  if (!timed) return;
  // The window keeps as many samples as a KRV file holds: a longer
  // recording opens at its first part, which the user may move.
  const double seconds = info.Seconds();
  const double most = static_cast<double>(kMaxSaveAsSamples) / info.rate;
  for (QDoubleSpinBox* box : {from_, to_}) {
    const QSignalBlocker quiet(box);
    box->setRange(0.0, seconds);
  }
  const QSignalBlocker quiet(to_);
  from_->setValue(0.0);
  to_->setValue(std::min(seconds, most));
  if (seconds > most) {
    info_label_->setText(text + "\nThe window holds " + Text(FormatInteger(kMaxSaveAsSamples)) +
                         " samples (" + Text(FormatFixed(most, 3)) +
                         " s at this rate): choose the part to open.");
  }
}

QString RecordingDialog::Problem() const {
  if (!info_) return probe_problem_;
  if (info_->rate <= 0.0) {
    return !mat_rate_->text().trimmed().isEmpty() && !PositiveNumber(*mat_rate_)
               ? "The rate must be a positive number of samples per second"
               : "Give the rate in samples per second, or the variable holding it";
  }
  const double frames = std::round((to_->value() - from_->value()) * info_->rate);
  if (frames < 1.0) return "The part is empty: From must come before To";
  if (frames > static_cast<double>(kMaxSaveAsSamples)) {
    return "The part holds " + Text(FormatInteger(static_cast<long long>(frames))) +
           " samples, more than the " + Text(FormatInteger(kMaxSaveAsSamples)) +
           " the window holds: choose a shorter part";
  }
  if (calibration_->currentIndex() == kScale && !PositiveNumber(*scale_)) {
    return "The scale must be a positive number of pascals per unit";
  }
  if (calibration_->currentIndex() == kCalibrator && calibrator_->text().trimmed().isEmpty()) {
    return "Name the recording of the sound calibrator";
  }
  return {};
}

void RecordingDialog::Revalidate() {
  const QString problem = Problem();
  problem_label_->setText(problem);
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(problem.isEmpty());
}

void RecordingDialog::accept() {
  Revalidate();
  if (Problem().isEmpty()) QDialog::accept();
}

RecordingRequest RecordingDialog::Request() const {
  RecordingRequest request;
  request.source = Source();
  if (!info_) return request;
  request.channel = channel_->value();
  // The whole recording is asked for as such, so that its frames are not
  // rounded from seconds and back.
  const double half_frame = info_->rate > 0.0 ? 0.5 / info_->rate : 0.0;
  if (from_->value() > half_frame) request.from_s = from_->value();
  if (to_->value() < info_->Seconds() - half_frame) request.to_s = to_->value();
  CalibrationRequest& calibration = request.calibration;
  switch (calibration_->currentIndex()) {
    case kScale:
      calibration.scale = PositiveNumber(*scale_);
      break;
    case kSensitivity:
      calibration.sensitivity = sensitivity_->value();
      calibration.full_scale = full_scale_->value();
      break;
    case kCalibrator:
      // A calibrator named without a folder is looked for beside the recording.
      calibration.calibrator = path_.parent_path() / calibrator_->text().trimmed().toStdString();
      calibration.calibrator_level = calibrator_level_->value();
      if (calibrator_channel_->value() >= 0) {
        calibration.calibrator_channel = calibrator_channel_->value();
      }
      if (calibrator_frequency_->value() != kCalibratorNominalHz) {
        calibration.calibrator_frequency = calibrator_frequency_->value();
      }
      break;
    default:
      break;
  }
  return request;
}

}  // namespace korva::ui
