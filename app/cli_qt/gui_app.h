// The Qt application that drawing commands need for text, offscreen when
// there is no display.
#pragma once

#include <QGuiApplication>
#include <clocale>
#include <cstdlib>
#include <memory>

namespace korva::cli {

// Null when an application exists already.
inline std::unique_ptr<QGuiApplication> EnsureGuiApplication() {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "korva-cli";
  static char* argv[] = {name, nullptr};
  auto app = std::make_unique<QGuiApplication>(argc, argv);
  // Qt has taken the user's locale; the C library's numbers must stay with '.'.
  std::setlocale(LC_NUMERIC, "C");
  return app;
}

}  // namespace korva::cli
