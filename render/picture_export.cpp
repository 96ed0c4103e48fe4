#include "render/picture_export.h"

#include <QBuffer>
#include <QImage>
#include <QPageSize>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string_view>

#include "core/common/error.h"
#include "core/common/files.h"

namespace korva::render {
namespace {

// SVG and PDF sizes are given in points: one client pixel is one point, so a
// vector export prints at the size it has on a screen of 72 dots per inch.
constexpr int kVectorResolution = 72;
constexpr int kMinPictureSide = 16;
constexpr int kMaxPictureSide = 8192;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

void Draw(const PictureExport& what, QPaintDevice& device, bool hold_open) {
  Surface surface(device, what.client, what.shown.topLeft());
  std::optional<QPainter> held;
  if (hold_open) {
    held.emplace(&device);
    surface.HoldOpen(&*held);
  }
  PlotState state = what.state;
  what.picture->Render(surface, state);
}

}  // namespace

std::optional<PictureFormat> PictureFormatNamed(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "png") return PictureFormat::kPng;
  if (lower == "svg") return PictureFormat::kSvg;
  if (lower == "pdf") return PictureFormat::kPdf;
  return std::nullopt;
}

std::optional<QSize> PictureSizeNamed(const std::string& text) {
  int width = 0, height = 0, used = 0;
  const std::string trimmed(TrimBlanks(text));
  if (std::sscanf(trimmed.c_str(), "%dx%d%n", &width, &height, &used) != 2 ||
      used != static_cast<int>(trimmed.size())) {
    return std::nullopt;
  }
  if (std::min(width, height) < kMinPictureSide || std::max(width, height) > kMaxPictureSide) {
    return std::nullopt;
  }
  return QSize(width, height);
}

std::optional<PictureFormat> PictureFormatOfFile(const std::filesystem::path& file) {
  const std::string suffix = file.extension().string();
  if (suffix.size() < 2) return std::nullopt;
  return PictureFormatNamed(suffix.substr(1));
}

QByteArray RenderPicture(const PictureExport& what, PictureFormat format) {
  if (what.picture == nullptr || what.shown.isEmpty()) {
    throw Error("there is no picture to export");
  }
  const QSize size = what.shown.size();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  const QString title = QString::fromStdString(what.title);
  switch (format) {
    case PictureFormat::kPng: {
      QImage image(size, QImage::Format_RGB32);
      image.fill(Qt::white);
      Draw(what, image, false);
      if (!image.save(&buffer, "PNG")) throw Error("cannot encode the picture as PNG");
      break;
    }
    case PictureFormat::kSvg: {
      QSvgGenerator svg;
      svg.setOutputDevice(&buffer);
      svg.setSize(size);
      svg.setViewBox(QRect(QPoint(0, 0), size));
      svg.setResolution(kVectorResolution);
      svg.setTitle(title);
      Draw(what, svg, true);
      break;
    }
    case PictureFormat::kPdf: {
      QPdfWriter pdf(&buffer);
      pdf.setResolution(kVectorResolution);
      pdf.setPageSize(QPageSize(QSizeF(size), QPageSize::Point));
      pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
      pdf.setTitle(title);
      pdf.setCreator("KORVA");
      Draw(what, pdf, true);
      break;
    }
  }
  buffer.close();
  if (bytes.isEmpty()) throw Error("the picture could not be drawn");
  return bytes;
}

void ExportPicture(const PictureExport& what, PictureFormat format,
                   const std::filesystem::path& file) {
  const QByteArray bytes = RenderPicture(what, format);
  WriteFileAtomically(file,
                      std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

}  // namespace korva::render
