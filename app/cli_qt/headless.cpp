#include "app/cli_qt/headless.h"

#include <QByteArray>
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace korva::cli {
namespace {

QtMessageHandler previous_handler = nullptr;

// Without a desktop session XDG_RUNTIME_DIR is unset, and the platform
// plugin's start-up says so on standard error although nothing here uses
// that folder: a script running korva-cli would read it as a fault. Every
// other message goes where it went.
void QuietAboutTheRuntimeFolder(QtMsgType type, const QMessageLogContext& context,
                                const QString& message) {
  if (type == QtWarningMsg && message.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set")) {
    return;
  }
  if (previous_handler != nullptr) {
    previous_handler(type, context, message);
  } else {
    const QByteArray text = qFormatLogMessage(type, context, message).toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
  }
}

}  // namespace

std::unique_ptr<QGuiApplication> EnsureGuiApplication() {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "korva-cli";
  static char* argv[] = {name, nullptr};
  previous_handler = qInstallMessageHandler(QuietAboutTheRuntimeFolder);
  auto app = std::make_unique<QGuiApplication>(argc, argv);
  // Qt has taken the user's locale; the C library's numbers must stay with '.'.
  std::setlocale(LC_NUMERIC, "C");
  return app;
}

}  // namespace korva::cli
