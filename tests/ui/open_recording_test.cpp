// File > Open recording: the dialog shows what the file holds, and what it
// opens is the channel, part and calibration the user chose in it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "tests/support/recordings.h"
#include "tests/ui/window_fixture.h"
#include "ui/recording_dialog.h"

namespace korva::testing {
namespace {

// Runs `fill` on the Open recording dialog once it is shown, then presses
// its Open button (or Cancel when `open` is false).
void WhenDialogShows(const std::function<void(ui::RecordingDialog&)>& fill, bool open = true) {
  QTimer::singleShot(0, [fill, open] {
    auto* dialog = qobject_cast<ui::RecordingDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    fill(*dialog);
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    buttons->button(open ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    if (dialog->isVisible()) dialog->reject();  // Open was refused: the test sees why
  });
}

template <typename T>
T& Field(ui::RecordingDialog& dialog, const char* name) {
  T* field = dialog.findChild<T*>(name);
  EXPECT_NE(field, nullptr) << name;
  return *field;
}

TEST_F(WindowTest, OpenRecordingReadsTheChosenChannelAndPartInPascals) {
  const std::filesystem::path file = RecordingFixtures() / "pcm24x4.wav";
  chooser_.Choose(file);
  QString shown;
  WhenDialogShows([&shown](ui::RecordingDialog& dialog) {
    shown = Field<QLabel>(dialog, "RecordingInfo").text();
    Field<QSpinBox>(dialog, "Channel").setValue(3);
    Field<QDoubleSpinBox>(dialog, "From").setValue(0.001);  // frame 192 at 192 kHz
    Field<QDoubleSpinBox>(dialog, "To").setValue(0.004);    // frame 768
    Field<QComboBox>(dialog, "Calibration").setCurrentIndex(ui::RecordingDialog::kScale);
    Field<QLineEdit>(dialog, "Scale").setText("0.5");
  });
  window_->file().OpenRecording();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_TRUE(shown.contains("WAV (extensible), 24-bit integer, 4 channels"))
      << shown.toStdString();
  EXPECT_TRUE(shown.contains("192000 samples/s, 0.005 s (1000 frames)")) << shown.toStdString();

  const Session& session = window_->session();
  ASSERT_EQ(session.SampleCount(), 576);
  for (int i = 0; i < 576; i += 25) {
    EXPECT_EQ(session.Pressure[i], 0.5f * static_cast<float>(PatternInteger(192 + i, 3, 24)))
        << "sample " << i;
  }
  EXPECT_NE(session.Grid.Cell(2, 2).find("channel 3"), std::string::npos)
      << session.Grid.Cell(2, 2);
  EXPECT_NE(session.Grid.Cell(2, 2).find("0.5 Pa"), std::string::npos) << session.Grid.Cell(2, 2);
}

TEST_F(WindowTest, OpenRecordingAsksAMatlabFilesRateAndRefusesWhatItCannotRead) {
  OpenTestFile("KEPT.KRV", 2000);
  const std::int32_t count = window_->session().SampleCount();
  const std::span<const float> opened =
      std::as_const(window_->session().Pressure).Range(0, count - 1);
  const std::vector<float> kept(opened.begin(), opened.end());

  // rows.mat holds its samples in `data` and no rate the reader can find by
  // itself: Open waits for one, and the header is read again with it.
  chooser_.Choose(RecordingFixtures() / "rows.mat");
  QString before;
  QString after;
  WhenDialogShows([&](ui::RecordingDialog& dialog) {
    auto* open = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    Field<QLineEdit>(dialog, "Variable").setText("data");
    emit Field<QLineEdit>(dialog, "Variable").editingFinished();
    EXPECT_FALSE(open->isEnabled());
    before = Field<QLabel>(dialog, "Problem").text();
    Field<QLineEdit>(dialog, "MatRate").setText("12800");
    emit Field<QLineEdit>(dialog, "MatRate").editingFinished();
    EXPECT_TRUE(open->isEnabled());
    after = Field<QLabel>(dialog, "RecordingInfo").text();
  });
  window_->file().OpenRecording();
  Settle();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_TRUE(before.contains("Give the rate")) << before.toStdString();
  EXPECT_TRUE(after.contains("12800 samples/s")) << after.toStdString();
  EXPECT_EQ(window_->session().SampleCount(), 1000);
  EXPECT_EQ(window_->session().Pressure[10], static_cast<float>((10 * 37 % 2001 - 1000) / 1024.0));

  // A text file is the importer's; Cancel then leaves the window as it was.
  OpenTestFile("KEPT.KRV", 2000);
  chooser_.Choose(work_ / "KEPT.KRV");
  QString problem;
  WhenDialogShows(
      [&problem](ui::RecordingDialog& dialog) {
        problem = Field<QLabel>(dialog, "Problem").text();
        EXPECT_FALSE(
            dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
      },
      false);
  window_->file().OpenRecording();
  Settle();
  EXPECT_TRUE(problem.contains("File > Import reads text")) << problem.toStdString();
  ASSERT_EQ(window_->session().SampleCount(), count);
  const std::span<const float> now = std::as_const(window_->session().Pressure).Range(0, count - 1);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), now.begin()));
}

}  // namespace
}  // namespace korva::testing
