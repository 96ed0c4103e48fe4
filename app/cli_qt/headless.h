// What the drawing commands need to draw without a window: a Qt
// application (text on an image needs a QGuiApplication; without a display
// it draws offscreen) and pictures encoded as PNG.
#pragma once

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <memory>

namespace korva::cli {

// A QGuiApplication when none exists yet (null otherwise), on the offscreen
// platform unless QT_QPA_PLATFORM names another, with the C library's
// numbers kept in the C locale.
std::unique_ptr<QGuiApplication> EnsureGuiApplication();

// The picture as PNG bytes; FormatError when it cannot be encoded.
QByteArray PngBytes(const QImage& image);

}  // namespace korva::cli
