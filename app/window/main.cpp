// korva: the window. Data files are found in the current folder, else in
// $KORVA_DATA_DIR, else in the data folder installed with the program.
// "korva FILE" opens FILE once the window is up: a KRV file as File > Open
// does, a recording (WAV, text, binary) as File > Import does.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <clocale>
#include <cmath>
#include <filesystem>

#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/common/files.h"
#include "ui/main_window.h"
#include "ui/qt_prompter.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(korva::ui::kApplicationTitle);
  QApplication::setOrganizationName("KORVA");
  // Qt has taken the user's locale; numbers in files stay with '.' whatever it is.
  std::setlocale(LC_NUMERIC, "C");

  const std::optional<std::filesystem::path> data_dir = korva::FindDataDir();
  if (!data_dir) {
    QMessageBox::critical(nullptr, korva::ui::kApplicationTitle,
                          "Man.Fig: not found in the current folder, in $KORVA_DATA_DIR or in "
                          "the installed data folder. Start korva from its data folder.");
    return 1;
  }
  korva::ui::QtPrompter prompter;
  korva::ui::QtFileChooser chooser;
  korva::ui::WindowOptions options;
  options.data_dir = *data_dir;
  options.open_dir = korva::CurrentFolder().value_or(".");
  korva::ui::MainWindow window(prompter, chooser, options);
  prompter.SetParent(&window);
  chooser.SetParent(&window);
  // Un-maximised, the window takes most of the screen, centred.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    const QSize size(static_cast<int>(std::lround(0.8 * area.width())),
                     static_cast<int>(std::lround(0.8 * area.height())));
    window.resize(size.expandedTo(window.minimumSize()));
    window.move(area.center() - window.rect().center());
  }
  window.showMaximized();
  // The splash is stretched over the client area, so let the window manager
  // finish maximising (bounded: some never expose a window at all).
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < 1000 &&
         (window.windowHandle() == nullptr || !window.windowHandle()->isExposed())) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  QCoreApplication::processEvents();
  try {
    window.FormCreate();
  } catch (const korva::Error& e) {
    QMessageBox::critical(&window, korva::ui::kApplicationTitle, e.what());
    return 1;
  }
  const QStringList files = QApplication::arguments().mid(1);
  QTimer::singleShot(0, &window, [&window, files] { window.OpenArguments(files); });
  return app.exec();
}
