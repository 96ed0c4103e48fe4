// The main window driven through its slots: start-up, Open, Save, Import,
// the grid, the hazard commands, clipboard copies and the busy rule.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "core/common/files.h"
#include "core/plot/frame.h"
#include "core/waveform/krv.h"
#include "tests/ui/window_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

QAction* FindAction(const ui::MainWindow& window, const char* name) {
  return window.findChild<QAction*>(name);
}

int CountBarItems(const ui::MainWindow& window, const QString& caption) {
  const QList<QAction*> actions = window.menuBar()->actions();
  return static_cast<int>(std::count_if(actions.begin(), actions.end(),
                                        [&](QAction* a) { return a->text() == caption; }));
}

// Pixels of `colour` within and outside the rectangle [left, right] x [top, bottom].
struct ColourCount {
  int inside = 0;
  int outside = 0;
};
ColourCount CountColour(const QImage& image, QRgb colour, int left, int top, int right,
                        int bottom) {
  ColourCount count;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFFu) != (colour & 0xFFFFFFu)) continue;
      const bool in = x >= left && x <= right && y >= top && y <= bottom;
      (in ? count.inside : count.outside)++;
    }
  }
  return count;
}

TEST_F(WindowTest, StartsWithTheSplashAndOnlyTheCommandsThatNeedNoWaveform) {
  EXPECT_EQ(window_->windowTitle(), "KORVA INTENSE SOUND HAZARD ANALYSIS");
  EXPECT_FALSE(window_->Analyze1()->menuAction()->isEnabled());
  for (const char* name :
       {"OverlayKRVWaveform1", "SaveKRVwaveform1", "SaveKRVwaveformas1", "SaveWAVwaveform1"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(FindAction(*window_, name)->isEnabled());
  }
  for (const char* name :
       {"OpenKRVwaveform1", "Importwaveform1", "Exit1", "Copyscreentoclipboard1"}) {
    EXPECT_TRUE(FindAction(*window_, name)->isEnabled());
  }
  EXPECT_FALSE(window_->StringGrid1()->isVisible());
  EXPECT_FALSE(window_->workspace().PopupOn());
  EXPECT_FALSE(window_->session().WaveformLoaded);
  // The splash picture covers the client area.
  const QImage& image = window_->canvas().Image();
  EXPECT_NE(image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFFu, 0xFFFFFFu);
  // One protector item per default-mode record; power-user records get none.
  ASSERT_EQ(window_->protector().ProtectorItems().size(), 1u);
  EXPECT_EQ(window_->protector().ProtectorItems()[0]->text(), "FOAM PLUG");
  EXPECT_FALSE(window_->findChild<QMenu*>("PowerUserMode1")->menuAction()->isEnabled());
  EXPECT_EQ(window_->workspace().PopupItems()[8]->text(), "APPLY HEARING PROTECTION");
  EXPECT_EQ(window_->findChild<QObject*>("Edit1")->objectName(), "Edit1");
  EXPECT_NE(window_->findChild<QWidget*>("Button12"), nullptr);
}

TEST(WindowStartup, AMissingDataFileStopsStartUpNamingTheFile) {
  for (const char* missing : {"Man.Fig", "EarModel.jpg", "Image5.jpg", "HPD Atten.txt"}) {
    SCOPED_TRACE(missing);
    TempDir data;
    const fs::path source = KORVA_SOURCE_DATA_DIR;
    for (const char* name : {"Man.Fig", "EarModel.jpg", "Image5.jpg"}) {
      fs::copy_file(source / name, data.path() / name);
    }
    const std::string man_fig = ReadWholeFile(source / "Man.Fig");
    std::string model = man_fig.substr(0, man_fig.find_first_of("\r\n"));
    while (!model.empty() && model.back() == ' ') model.pop_back();
    fs::copy_file(source / model, data.path() / model);
    data.Write("HPD Atten.txt", TestProtectorTable());
    fs::remove(data.path() / missing);

    ScriptedPrompter prompter;
    ScriptedFileChooser chooser;
    ui::WindowOptions options;
    options.data_dir = data.path();
    options.sample_capacity = kMinSampleCapacity;
    ui::MainWindow window(prompter, chooser, options);
    try {
      window.FormCreate();
      ADD_FAILURE() << "start-up went on without " << missing;
    } catch (const ui::StartupError& e) {
      EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
  }
}

TEST(WindowStartup, StartsWithTheShippedDataFiles) {
  ScriptedPrompter prompter;
  ScriptedFileChooser chooser;
  ui::WindowOptions options;
  options.data_dir = KORVA_SOURCE_DATA_DIR;
  options.sample_capacity = kMinSampleCapacity;
  ui::MainWindow window(prompter, chooser, options);
  window.resize(640, 480);
  window.show();
  PumpEvents();
  ASSERT_NO_THROW(window.FormCreate());
  EXPECT_FALSE(window.protector().ProtectorItems().empty());
  EXPECT_FALSE(window.workspace().ModelFile().empty());
}

TEST_F(WindowTest, OpenShowsGridCaptionAndPlotAndEnablesAnalysis) {
  OpenTestFile("blast.krv");
  ASSERT_EQ(chooser_.shown().size(), 1u);
  EXPECT_EQ(chooser_.shown()[0].title, "Korva Files");
  EXPECT_TRUE(chooser_.shown()[0].place_centred);
  EXPECT_TRUE(Informed().empty()) << Informed().front();

  const Session& session = window_->session();
  EXPECT_EQ(window_->windowTitle(), "KORVA INTENSE SOUND HAZARD ANALYSIS OF: BLAST");
  EXPECT_EQ(session.LastSample + 1, 4096);
  QTableWidget* grid = window_->StringGrid1();
  EXPECT_TRUE(grid->isVisible());
  EXPECT_EQ(grid->item(4, 1)->text().trimmed(), "4100");
  EXPECT_EQ(grid->item(5, 0)->text(), "Number of exposures with no protector, warned");
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());
  for (const char* name :
       {"OverlayKRVWaveform1", "SaveKRVwaveform1", "SaveKRVwaveformas1", "SaveWAVwaveform1"}) {
    EXPECT_TRUE(FindAction(*window_, name)->isEnabled()) << name;
  }
  EXPECT_TRUE(window_->workspace().PopupOn());
  EXPECT_EQ(grid->columnWidth(0),
            static_cast<int>(std::nearbyint(0.3 * window_->canvas().ClientWidth())));

  // The blue trace lies inside the plot rectangle of the lower half; the
  // purple zero line runs at the row of pressure 0.
  const render::PlotState& plot = window_->workspace().picture().State();
  const plot::Frame& frame = plot.frames[0];
  const QImage& image = window_->canvas().Image();
  const ColourCount blue =
      CountColour(image, qRgb(0, 0, 255), frame.left, frame.top, frame.left + plot.layout.PlotWidth,
                  frame.top + plot.layout.PlotHeight);
  EXPECT_GT(blue.inside, 200);
  EXPECT_EQ(blue.outside, 0);
  float x = frame.PlotXMax, y = 0.0f;
  const plot::ScreenPoint zero = plot::WorldToScreen(frame, x, y);
  int purple_on_zero_row = 0;
  for (int px = frame.left; px <= zero.x; ++px) {
    if ((image.pixel(px, zero.y) & 0xFFFFFFu) == 0x800080u) ++purple_on_zero_row;
  }
  EXPECT_GT(purple_on_zero_row, 10);
  SaveCanvas("korva-window-open.png");
}

TEST_F(WindowTest, AFailedFirstOpenLeavesThePopUpMenuOff) {
  chooser_.Choose(work_.Write("EMPTY.KRV", ""));
  window_->file().OpenWaveform();
  Settle();
  EXPECT_EQ(Errors().size(), 1u);
  EXPECT_FALSE(window_->workspace().PopupOn());
  EXPECT_FALSE(window_->Analyze1()->menuAction()->isEnabled());
  EXPECT_EQ(window_->windowTitle(), "KORVA INTENSE SOUND HAZARD ANALYSIS");
}

TEST_F(WindowTest, CancelledOrFailedOpenKeepsTheSession) {
  OpenTestFile("blast.krv");
  const Session before = window_->session();
  chooser_.Choose(std::nullopt);
  window_->file().OpenWaveform();
  Settle();
  EXPECT_EQ(window_->session().LastSample, before.LastSample);

  const fs::path bad = work_.Write("EMPTY.KRV", "");
  chooser_.Choose(bad);
  window_->file().OpenWaveform();
  Settle();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Informed()[0].find("EMPTY.KRV"), std::string::npos) << Informed()[0];
  EXPECT_EQ(window_->windowTitle(), "KORVA INTENSE SOUND HAZARD ANALYSIS OF: BLAST");
  EXPECT_EQ(window_->session().Grid, before.Grid);
  EXPECT_EQ(window_->session().LastSample, before.LastSample);
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());
}

TEST_F(WindowTest, FlatWaveformPlotsWithoutHanging) {
  OpenTestFile("zero.krv", 1024, 0.0);
  EXPECT_EQ(window_->session().LastSample, 1023);
  EXPECT_LT(window_->workspace().picture().State().frames[0].PlotYMin,
            window_->workspace().picture().State().frames[0].PlotYMax);
}

TEST_F(WindowTest, WarnedThenUnwarnedFillsBothRowsAndKeepsOnePairOfMovieItems) {
  OpenTestFile("blast.krv");
  window_->analysis().RunWarned();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  const QString edit = window_->Edit1()->text();
  EXPECT_TRUE(edit.endsWith("  A.R.U.")) << edit.toStdString();
  EXPECT_TRUE(window_->Edit1()->isVisible());
  EXPECT_TRUE(window_->ProgressBar1()->isVisible());
  EXPECT_EQ(window_->ProgressBar1()->value(), ui::kProgressSteps);
  QTableWidget* grid = window_->StringGrid1();
  EXPECT_TRUE(grid->item(5, 2)->text().endsWith(" A.R.U."));
  EXPECT_FALSE(grid->item(5, 1)->text().isEmpty());
  EXPECT_TRUE(grid->item(6, 1)->text().isEmpty());
  EXPECT_EQ(CountBarItems(*window_, "Movie[Cancel ,"), 1);
  EXPECT_EQ(CountBarItems(*window_, "Stapes Displacement]"), 1);
  EXPECT_TRUE(window_->session().MovieAvailable);
  for (QAction* item : window_->workspace().PopupItems()) EXPECT_FALSE(item->isEnabled());
  EXPECT_TRUE(window_->workspace().PopupOn());
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());
  // The reflex curve is drawn over the plot.
  const QImage& image = window_->canvas().Image();
  const ColourCount reflex =
      CountColour(image, qRgb(0, 170, 170), 0, image.height() / 2, image.width(), image.height());
  EXPECT_GT(reflex.inside, 100);
  SaveCanvas("korva-window-hazard.png");

  window_->analysis().RunUnwarned();
  Settle();
  ASSERT_EQ(Informed().size(), 1u);
  EXPECT_EQ(Informed()[0], ui::kMovieClosingMessage);
  EXPECT_FALSE(grid->item(5, 1)->text().isEmpty());
  EXPECT_FALSE(grid->item(6, 1)->text().isEmpty());
  EXPECT_TRUE(grid->item(6, 2)->text().endsWith(" A.R.U."));
  EXPECT_EQ(CountBarItems(*window_, "Movie[Cancel ,"), 1);
  EXPECT_EQ(CountBarItems(*window_, "Stapes Displacement]"), 1);

  window_->movie().CancelMovie();
  EXPECT_EQ(CountBarItems(*window_, "Movie[Cancel ,"), 0);
  EXPECT_FALSE(window_->session().MovieAvailable);
  EXPECT_FALSE(window_->Edit1()->isVisible());
}

TEST_F(WindowTest, HazardRefusesAnUnknownMicrophoneLocationAndKeepsTheMenus) {
  OpenTestFile("blast.krv", 4100, 2000.0, 7);
  window_->analysis().RunWarned();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], kBadLocationMessage);
  EXPECT_TRUE(window_->StringGrid1()->item(5, 1)->text().isEmpty());
  EXPECT_TRUE(window_->movie().Items().empty());
  EXPECT_FALSE(window_->session().MovieAvailable);
  EXPECT_TRUE(window_->workspace().PopupItems()[0]->isEnabled());
  EXPECT_TRUE(window_->Analyze1()->menuAction()->isEnabled());
}

TEST_F(WindowTest, SaveClearsTheLoadedWaveformSoAnalysisWaitsForTheNextOpen) {
  const fs::path file = OpenTestFile("BLAST.KRV");
  fs::remove(file);
  window_->file().SaveWaveform();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  EXPECT_TRUE(fs::exists(file));
  EXPECT_FALSE(window_->session().WaveformLoaded);
  EXPECT_FALSE(window_->Analyze1()->menuAction()->isEnabled());
  EXPECT_FALSE(window_->StringGrid1()->isVisible());

  // A hazard command now shows its running word and runs no model.
  window_->analysis().RunWarned();
  EXPECT_EQ(window_->Edit1()->text(), "WARNED");
  EXPECT_TRUE(window_->movie().Items().empty());

  // Save As proposes the opened name and writes the name cut at its first dot.
  chooser_.Choose(work_ / "copy.v2.KRV");
  window_->file().SaveWaveformAs();
  Settle();
  EXPECT_EQ(chooser_.shown().back().proposed_name, "BLAST.KRV");
  EXPECT_EQ(chooser_.shown().back().default_suffix, "KRV");
  EXPECT_TRUE(fs::exists(work_ / "copy.KRV"));
  EXPECT_FALSE(window_->Analyze1()->menuAction()->isEnabled());
}

TEST_F(WindowTest, SaveAsAsksBeforeReplacingAFileTheDialogDidNotConfirm) {
  OpenTestFile("BLAST.KRV");
  work_.Write("OTHER.KRV", "keep me");
  chooser_.Choose(work_ / "OTHER.v2.KRV");
  prompter_.Confirm(false);
  window_->file().SaveWaveformAs();
  EXPECT_EQ(ReadWholeFile(work_ / "OTHER.KRV"), "keep me");
  EXPECT_TRUE(window_->session().WaveformLoaded);
}

TEST_F(WindowTest, ImportOfWavAndTextTakesTheImportLayoutAndLeavesAnalysisOff) {
  // A 16-bit mono PCM WAV of 8 samples at 44.1 kHz.
  std::string wav = "RIFF";
  auto u32 = [&wav](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) wav += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto u16 = [&wav](std::uint16_t v) {
    wav += static_cast<char>(v & 0xFF);
    wav += static_cast<char>(v >> 8);
  };
  u32(36 + 16);
  wav += "WAVEfmt ";
  u32(16), u16(1), u16(1), u32(44100), u32(88200), u16(2), u16(16);
  wav += "data";
  u32(16);
  for (int v : {0, 1000, -1000, 32767, -32768, 5, 6, 7}) u16(static_cast<std::uint16_t>(v));
  chooser_.Choose(work_.Write("shot.wav", wav));
  window_->file().ImportWaveform();
  Settle();
  ASSERT_TRUE(Informed().empty()) << Informed().front();
  EXPECT_TRUE(chooser_.shown().back().place_centred);  // the first dialog after start-up
  EXPECT_EQ(window_->windowTitle(), "KORVA INTENSE SOUND HAZARD IMPORTING FILE: shot.wav");
  EXPECT_EQ(window_->session().LastSample, 7);
  EXPECT_EQ(window_->StringGrid1()->item(2, 1)->text(), "44100");
  EXPECT_EQ(window_->StringGrid1()->columnWidth(0),
            static_cast<int>(std::nearbyint(0.2 * window_->canvas().ClientWidth())));
  EXPECT_FALSE(window_->Analyze1()->menuAction()->isEnabled());
  EXPECT_FALSE(FindAction(*window_, "SaveKRVwaveform1")->isEnabled());
  EXPECT_TRUE(FindAction(*window_, "SaveKRVwaveformas1")->isEnabled());
  EXPECT_TRUE(window_->workspace().PopupOn());
  SaveCanvas("korva-window-import.png");

  // Three columns after a title line: the spreadsheet question, column 2.
  chooser_.Choose(work_.Write("table.txt", "time pressure other\r\n1 10 100\r\n2 20 200\r\n"));
  prompter_.Choice(Answer::kYes).Text("2");
  window_->file().ImportWaveform();
  Settle();
  EXPECT_FALSE(chooser_.shown().back().place_centred);
  const auto& asked = prompter_.asked();
  ASSERT_GE(asked.size(), 2u);
  EXPECT_EQ(asked[asked.size() - 2].kind, "yesnocancel");
  EXPECT_EQ(asked.back().question, "Spreadsheet column number from 1 to 3");
  EXPECT_EQ(window_->session().LastSample, 1);
  EXPECT_FLOAT_EQ(window_->session().Pressure[1], 20.0f);
  EXPECT_TRUE(prompter_.AllAnswersUsed());
}

TEST_F(WindowTest, GridEditsAreRefusedOrAcceptedWhenTheCellIsLeft) {
  OpenTestFile("blast.krv");
  QTableWidget* grid = window_->StringGrid1();
  window_->workspace().grid().SelectCell(1, 2);
  grid->item(2, 1)->setText("0.5");
  window_->workspace().grid().SelectCell(1, 3);
  EXPECT_EQ(grid->item(2, 1)->text().trimmed(), "200000");
  EXPECT_FLOAT_EQ(window_->session().SampleRate, 200000.0f);

  grid->item(3, 1)->setText("2");
  window_->workspace().grid().SelectCell(0, 0);
  EXPECT_EQ(window_->session().MicLocation, 2);

  window_->workspace().grid().SelectCell(1, 3);
  grid->item(3, 1)->setText("4");
  window_->workspace().grid().CellEntered();
  EXPECT_EQ(window_->session().MicLocation, 2);
  EXPECT_EQ(grid->item(3, 1)->text().trimmed(), "2");

  // Typing into the cell editor and pressing Enter there processes the edit.
  grid->setFocus();
  grid->setCurrentCell(3, 1);
  grid->editItem(grid->item(3, 1));
  auto* editor = grid->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setText("3");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(editor, &enter);
  PumpEvents();  // the delegate commits and closes the editor from the event queue
  EXPECT_EQ(window_->session().MicLocation, 3);
}

TEST_F(WindowTest, ClipboardCopiesTakeTheHalvesOfAnOddClientHeight) {
  window_->resize(801, 601);
  PumpEvents();
  window_->canvas().FollowWidgetSize();
  QImage& image = window_->canvas().Image();
  int height = image.height();
  if (height % 2 == 0) {
    window_->resize(801, 602);
    PumpEvents();
    window_->canvas().FollowWidgetSize();
    height = image.height();
  }
  ASSERT_EQ(height % 2, 1);
  const int width = image.width();
  image.fill(Qt::white);
  for (int x = 0; x < width; ++x) image.setPixel(x, height / 2, qRgb(255, 0, 0));  // middle row

  QClipboard* clipboard = QGuiApplication::clipboard();
  window_->view().CopyScreen();
  EXPECT_EQ(clipboard->image().size(), QSize(width, height));
  window_->view().CopyWaveform();
  const QImage lower = clipboard->image();
  EXPECT_EQ(lower.size(), QSize(width, height / 2));
  EXPECT_EQ(lower.pixel(3, 0) & 0xFFFFFFu, 0xFF0000u);  // the middle row belongs to the lower half
  window_->view().CopySpectrum();
  const QImage upper = clipboard->image();
  EXPECT_EQ(upper.size(), QSize(width, height / 2));
  EXPECT_EQ(upper.pixel(3, upper.height() - 1) & 0xFFFFFFu, 0xFFFFFFu);

  // With the grid over the upper half there is no spectrum to copy: the
  // clipboard keeps what it held, and the status bar says why.
  OpenTestFile("blast.krv");
  ASSERT_TRUE(window_->StringGrid1()->isVisible());
  clipboard->setText("kept");
  window_->view().CopySpectrum();
  EXPECT_EQ(clipboard->text(), "kept");
  EXPECT_NE(window_->statusBar()->currentMessage().toStdString().find("nothing was copied"),
            std::string::npos);
}

TEST_F(WindowTest, HelpTextsAndTheProtectorHelpPictureUntilTheNextPress) {
  window_->ShowHelp();
  ASSERT_EQ(Informed().size(), 1u);
  EXPECT_EQ(Informed()[0], ui::kHelpText);

  OpenTestFile("blast.krv");
  const QImage before = window_->canvas().Image();
  window_->protector().ShowProtectorHelp();
  EXPECT_TRUE(window_->workspace().picture().HelpPictureShowing());
  EXPECT_FALSE(window_->StringGrid1()->isVisible());
  EXPECT_NE(window_->canvas().Image(), before);
  emit window_->canvas().Pressed(Qt::LeftButton, QPoint(10, 10), Qt::NoModifier);
  EXPECT_FALSE(window_->workspace().picture().HelpPictureShowing());
  EXPECT_EQ(window_->canvas().Image(), before);
  EXPECT_TRUE(window_->StringGrid1()->isVisible());  // back with the picture

  window_->file().SaveWav();
  EXPECT_EQ(Informed().back(), "Saving WAV files is not available.");
}

}  // namespace
}  // namespace korva::testing
