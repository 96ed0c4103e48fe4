// The document tells its views what a command changed, once per command,
// and the views draw themselves from it.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

// How often each of the document's signals came.
struct Counts {
  int waveform = 0;
  int header = 0;
  int results = 0;
  int picture = 0;
  bool operator==(const Counts&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Counts& c) {
    return out << "{waveform " << c.waveform << ", header " << c.header << ", results " << c.results
               << ", picture " << c.picture << "}";
  }
};

class Emitted {
 public:
  explicit Emitted(ui::Document& document) {
    QObject::connect(&document, &ui::Document::WaveformChanged, &context_,
                     [this] { ++counts_.waveform; });
    QObject::connect(&document, &ui::Document::HeaderChanged, &context_,
                     [this] { ++counts_.header; });
    QObject::connect(&document, &ui::Document::ResultsChanged, &context_,
                     [this] { ++counts_.results; });
    QObject::connect(&document, &ui::Document::PictureChanged, &context_,
                     [this] { ++counts_.picture; });
  }
  const Counts& counts() const { return counts_; }

 private:
  QObject context_;  // the connections end with it
  Counts counts_;
};

TEST_F(WindowTest, EachCommandTellsTheViewsWhatChangedOnceAndARefusedOneNothing) {
  ui::Document& document = window_->document();
  {
    Emitted opened(document);
    OpenTestFile("BLAST.KRV", 4096);
    EXPECT_EQ(opened.counts(), (Counts{1, 1, 1, 1}));
  }
  // Cells the grid took before any typing are processed: nothing to say.
  window_->workspace().grid().ProcessPendingEdits();
  {
    Emitted calibrated(document);
    window_->RememberPicture();  // the pop-up menu opens
    prompter_.Text("2");
    window_->edit().CalibrateWaveform(0);
    EXPECT_EQ(calibrated.counts(), (Counts{1, 0, 0, 1}));
  }
  {
    // Arming draws the lines over the picture: the document is as it was.
    Emitted selected(document);
    window_->RememberPicture();
    window_->edit().StartSelectSegment();
    EXPECT_EQ(selected.counts(), Counts{});
    window_->edit().CutToSegment();
    EXPECT_EQ(selected.counts(), (Counts{1, 1, 0, 1}));
  }
  {
    Emitted ran(document);
    window_->analysis().RunWarned();
    Settle();
    ASSERT_TRUE(Errors().empty()) << Errors().front();
    EXPECT_EQ(ran.counts(), (Counts{1, 1, 1, 1}));
  }
  {
    Emitted refused(document);
    window_->session().Grid.Cell(1, 3) = "7";  // a location the model cannot take
    window_->analysis().RunUnwarned();
    Settle();
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(refused.counts(), Counts{});
  }
}

TEST_F(WindowTest, ACancelledRunLeavesTheEditedPictureAndTellsTheViewsNothing) {
  OpenTestFile("LONG.KRV", 1 << 18, 20000.0);
  window_->workspace().grid().ProcessPendingEdits();
  // An edit from the pop-up menu, which keeps the picture as it was when
  // it opened: the plot now shows the doubled waveform.
  window_->RememberPicture();
  prompter_.Text("2");
  window_->edit().CalibrateWaveform(0);
  const QImage edited = window_->canvas().Image().copy();

  Emitted cancelled(window_->document());
  window_->analysis().RunWarned();
  CancelOnceWorking();
  EXPECT_TRUE(Informed().empty()) << Informed().front();
  EXPECT_EQ(cancelled.counts(), Counts{});
  EXPECT_EQ(window_->canvas().Image(), edited);
}

TEST_F(WindowTest, TheGridAndTheCanvasDrawThemselvesFromTheDocument) {
  OpenTestFile("BLAST.KRV", 4096);
  ui::Document& document = window_->document();
  document.session.Grid.Cell(2, 1) = "A NEW TITLE";
  document.Changed(ui::Document::kHeader);
  EXPECT_EQ(window_->StringGrid1()->item(1, 2)->text(), "A NEW TITLE");

  const QImage& image = window_->canvas().Image();
  ASSERT_GT(CountColour(image, 0x0000FFu, 0, image.height()), 100);  // the trace
  document.picture = {};
  document.Changed(ui::Document::kPicture);
  EXPECT_EQ(CountColour(image, 0xFFFFFFu, 0, image.height()), image.width() * image.height());
}

}  // namespace
}  // namespace korva::testing
