#include "tests/ui/window_fixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cmath>
#include <cstdio>

#include "core/common/files.h"
#include "core/common/numbers.h"

namespace korva::testing {

namespace fs = std::filesystem;

void PumpEvents() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

std::string TestProtectorTable() {
  return "Hearing protector attenuation table\r\n"
         "test fixture\r\n"
         "\r\n"
         "\r\n"
         "FOAM PLUG\t0.125\t0.25\t0.5\t1\t2\t4\t8\tMODE\tDEF\tA\tP\r\n"
         "ATTEN\t-30\t-32\t-35\t-37\t-36\t-40\t-42\r\n"
         "SPREAD\t3\t3\t3\t3\t3\t3\t3\r\n"
         "CIRCUIT\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\r\n"
         "BIG MUFF\t0.125\t0.25\t0.5\t1\t2\t4\t8\tMODE\tPOW\tB\tM\r\n"
         "ATTEN\t-10\t-15\t-25\t-30\t-32\t-35\t-35\r\n"
         "SPREAD\t3\t3\t3\t3\t3\t3\t3\r\n"
         "CIRCUIT\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\r\n";
}

std::string TestKrvText(const std::string& title, int count, double peak, int location) {
  auto row = [](const std::string& a, const std::string& b, const std::string& c) {
    return a + " \t" + b + " \t" + c + " \r\n";
  };
  std::string text = row("PARAMETER", "VALUE", "COMMENT") +
                     row("Title for waveform plot", "", title) +
                     row("Sampling rate", "200000", "samples/sec") +
                     row("Microphone relative to ear", FormatInteger(location), "") +
                     row("Number of Samples", FormatInteger(count), "");
  const double dt = 5e-6;
  const double duration = 0.0005;  // s, positive phase of the pulse
  for (int i = 0; i < count; ++i) {
    const double t = i * dt - 0.001;
    const double p = t < 0 ? 0.0 : peak * (1.0 - t / duration) * std::exp(-t / duration);
    text += FormatShortest(p) + "\r\n";
  }
  return text;
}

void WindowTest::SetUp() {
  previous_dir_ = fs::current_path();
  const fs::path source = KORVA_SOURCE_DATA_DIR;
  for (const char* name : {"Man.Fig", "EarModel.jpg", "Image5.jpg", "Seed_REAT_Values_Earplug.txt",
                           "Seed_REAT_Values_Earmuff.txt"}) {
    fs::copy_file(source / name, data_.path() / name);
  }
  // The parameter file Man.Fig names.
  const std::string man_fig = ReadWholeFile(source / "Man.Fig");
  std::string model = man_fig.substr(0, man_fig.find_first_of("\r\n"));
  while (!model.empty() && model.back() == ' ') model.pop_back();
  fs::copy_file(ResolveCaseInsensitive(source / model), data_.path() / model);
  data_.Write("HPD Atten.txt", TestProtectorTable());

  ui::WindowOptions options;
  options.data_dir = data_.path();
  options.sample_capacity = kMinSampleCapacity;
  options.open_dir = work_.path();
  options.settings_file = data_.path() / "settings.ini";
  window_ = std::make_unique<ui::MainWindow>(prompter_, chooser_, options);
  window_->resize(1000, 700);
  window_->show();
  PumpEvents();
  window_->FormCreate();
}

void WindowTest::TearDown() {
  window_.reset();
  PumpEvents();
  fs::current_path(previous_dir_);
}

fs::path WindowTest::OpenTestFile(const std::string& name, int count, double peak, int location) {
  const fs::path file = work_.Write(name, TestKrvText("TEST BLAST", count, peak, location));
  chooser_.Choose(file);
  window_->file().OpenWaveform();
  Settle();
  return file;
}

void WindowTest::Settle() {
  QElapsedTimer waited;
  waited.start();
  while (window_->Busy() && waited.elapsed() < 600000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  ASSERT_FALSE(window_->Busy()) << "a command is still running";
  PumpEvents();
}

void WindowTest::CancelOnceWorking() {
  QElapsedTimer clock;
  clock.start();
  ui::CommandRunner& runner = window_->workspace().runner();
  while (!runner.Working() && clock.elapsed() < 5000) PumpEvents();
  ASSERT_TRUE(runner.Working()) << "the command did not start computing";
  runner.Cancel();
  Settle();
}

std::vector<std::string> WindowTest::Informed() const {
  std::vector<std::string> texts;
  for (const AskedQuestion& asked : prompter_.asked()) {
    if (asked.kind == "inform" || asked.kind == "error") texts.push_back(asked.question);
  }
  return texts;
}

std::vector<std::string> WindowTest::Errors() const {
  std::vector<std::string> texts;
  for (const AskedQuestion& asked : prompter_.asked()) {
    if (asked.kind == "error") texts.push_back(asked.question);
  }
  return texts;
}

void WindowTest::SaveCanvas(const std::string& name) {
  if (!pictures_) {
    pictures_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/korva-pictures-XXXXXX");
    if (qEnvironmentVariableIsSet("KORVA_KEEP_TEST_PICTURES")) {
      pictures_->setAutoRemove(false);
      std::fprintf(stderr, "pictures in %s\n", qPrintable(pictures_->path()));
    }
  }
  ASSERT_TRUE(pictures_->isValid()) << pictures_->errorString().toStdString();
  window_->canvas().Image().save(pictures_->filePath(QString::fromStdString("canvas-" + name)));
  window_->grab().save(pictures_->filePath(QString::fromStdString(name)));
}

}  // namespace korva::testing
