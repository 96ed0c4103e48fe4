// What the drawing commands need to draw without a window: a Qt
// application (text on an image needs a QGuiApplication; without a display
// it draws offscreen).
#pragma once

#include <QGuiApplication>
#include <memory>

namespace korva::cli {

// A QGuiApplication when none exists yet (null otherwise), on the offscreen
// platform unless QT_QPA_PLATFORM names another, with the C library's
// numbers kept in the C locale.
std::unique_ptr<QGuiApplication> EnsureGuiApplication();

}  // namespace korva::cli
