// A picture of the window written to a file: drawn again from its
// description for the target, so a PNG gets the pixels of its own size and
// an SVG or PDF gets lines and text rather than a screenshot.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <filesystem>
#include <optional>
#include <string>

#include "render/picture.h"

namespace korva::render {

enum class PictureFormat { kPng, kSvg, kPdf };

// The format named by "png", "svg" or "pdf", or by a file name's suffix
// (any case); nothing for anything else.
std::optional<PictureFormat> PictureFormatNamed(const std::string& name);
std::optional<PictureFormat> PictureFormatOfFile(const std::filesystem::path& file);

// "WxH" (as "1280x720", blanks around ignored) when both sides lie within
// 16..8192 pixels; nothing otherwise.
std::optional<QSize> PictureSizeNamed(const std::string& text);

// What to draw: `picture` laid out for a client area of `client` pixels, of
// which `shown` (in client pixels) is kept. `state` is the plot state the
// picture starts from; the caller's copy is not changed.
struct PictureExport {
  const Picture* picture = nullptr;
  PlotState state;
  QSize client;
  QRect shown;
  std::string title;  // the SVG's and PDF's document title
};

// The file's bytes in `format`.
QByteArray RenderPicture(const PictureExport& what, PictureFormat format);

// The same written to `file` atomically; throws korva::Error with the reason.
void ExportPicture(const PictureExport& what, PictureFormat format,
                   const std::filesystem::path& file);

}  // namespace korva::render
