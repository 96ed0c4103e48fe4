// "Overlay KRV waveform": the second trace and both spectra, the menus, and
// the noise-reduction table line, on OK and on Cancel.
#include <gtest/gtest.h>

#include <QAction>
#include <filesystem>

#include "core/common/files.h"
#include "tests/ui/window_fixture.h"
#include "ui/movie_controller.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class OverlayCommandTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    fs::create_directories(data_.path() / "Dat" / "Hearing Protectors");
    table_ = data_.path() / "Dat" / "Hearing Protectors" / "TOB.txt";
  }
  fs::path table_;
};

TEST_F(OverlayCommandTest, SecondFileIsDrawnComparedAndAppendedThenCancelComparesWithItself) {
  OpenTestFile("FIRST.KRV", 4096, 2000.0);
  const fs::path second = work_.Write("SECOND.KRV", TestKrvText("UNDER", 4096, 500.0));
  const int traces = window_->workspace().picture().State().TraceCount;

  chooser_.Choose(second);
  window_->protector().OverlayWaveform();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  ASSERT_TRUE(window_->document().last_overlay.has_value());
  // Like Open's, the dialog is placed centred and nearly full height.
  EXPECT_TRUE(chooser_.shown().back().place_centred);
  const OverlayResult& result = *window_->document().last_overlay;
  EXPECT_EQ(result.OverlayLabel, "FIRST_to_SECOND");
  // A quarter of the pressure is 12 dB down in every band.
  const auto& at_1k = result.differences[30 - kTableFirstBand];
  ASSERT_TRUE(at_1k.has_value());
  EXPECT_NEAR(*at_1k, -12.04, 0.1);
  const std::string text = ReadWholeFile(table_);
  EXPECT_EQ(CountLines(text), 2);
  EXPECT_NE(text.find("FIRST_to_SECOND\t3\t1\t0\r\n"), std::string::npos);

  EXPECT_EQ(window_->workspace().picture().State().TraceCount, traces + 1);
  EXPECT_FALSE(window_->workspace().PopupOn());
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());
  EXPECT_FALSE(window_->findChild<QAction*>("SaveKRVwaveform1")->isEnabled());
  EXPECT_FALSE(window_->findChild<QAction*>("SaveKRVwaveformas1")->isEnabled());
  const QImage& image = window_->canvas().Image();
  const int half = image.height() / 2;
  SaveCanvas("overlay.png");
  // The second trace and its spectrum in red, the first spectrum in blue.
  EXPECT_GT(CountColour(image, 0xFF0000u, half, image.height()), 50);
  EXPECT_GT(CountColour(image, 0xFF0000u, 0, half), 50);
  EXPECT_GT(CountColour(image, 0x0000FFu, 0, half), 50);

  // Cancel: one more line, no second header, the first against itself.
  chooser_.Choose(std::nullopt);
  window_->protector().OverlayWaveform();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  const std::string again = ReadWholeFile(table_);
  EXPECT_EQ(CountLines(again), 3);
  EXPECT_EQ(again.substr(0, text.size()), text);
  const auto& same = window_->document().last_overlay->differences[30 - kTableFirstBand];
  ASSERT_TRUE(same.has_value());
  EXPECT_NEAR(*same, 0.0, 1e-3);
}

TEST_F(OverlayCommandTest, UnreadableSecondFileLeavesSessionAndTable) {
  OpenTestFile("FIRST.KRV", 4096, 2000.0);
  const std::int32_t last_sample = window_->session().LastSample;
  chooser_.Choose(work_.Write("BROKEN.KRV", "not a waveform\r\n"));
  window_->protector().OverlayWaveform();
  Settle();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_FALSE(window_->document().last_overlay.has_value());
  EXPECT_FALSE(fs::exists(table_));
  EXPECT_EQ(window_->session().LastSample, last_sample);
  EXPECT_TRUE(window_->session().WaveformLoaded);
  EXPECT_TRUE(window_->findChild<QAction*>("SaveKRVwaveform1")->isEnabled());
}

TEST_F(OverlayCommandTest, TheLastRunsMovieStaysUntilAnOverlaySucceeds) {
  // Long enough for the overlay to be cancelled while it reads the second file.
  OpenTestFile("FIRST.KRV", 1 << 16, 2000.0);
  const fs::path second = work_.Write("SECOND.KRV", TestKrvText("UNDER", 1 << 16, 500.0));
  window_->analysis().RunWarned();
  Settle();
  ASSERT_EQ(window_->movie().Items().size(), 2u);

  chooser_.Choose(second);
  window_->protector().OverlayWaveform();
  CancelOnceWorking();
  EXPECT_TRUE(Informed().empty()) << Informed().front();
  EXPECT_EQ(window_->movie().Items().size(), 2u);
  EXPECT_TRUE(window_->session().MovieAvailable);
  EXPECT_FALSE(window_->document().last_overlay.has_value());

  chooser_.Choose(second);
  window_->protector().OverlayWaveform();
  Settle();
  ASSERT_EQ(Informed().size(), 1u);
  EXPECT_EQ(Informed()[0], ui::kMovieClosingMessage);
  EXPECT_TRUE(window_->movie().Items().empty());
  EXPECT_FALSE(window_->session().MovieAvailable);
  EXPECT_TRUE(window_->document().last_overlay.has_value());
}

}  // namespace
}  // namespace korva::testing
