// The report to hand on: a self-contained HTML page (pictures embedded as
// data: URIs, no scripts, no external references) or an A4 PDF with page
// numbers, with the summary, the tables of the shots and, per shot, the
// pressure-time plot with its peak and durations marked, the close-up of the
// impulse, the Leq300ms spectrum and the hazard of each cochlear place,
// drawn with the window's recipes. Needs a QGuiApplication; everything here
// may run on a worker thread.
//
// A report is DrawShotPictures for each shot while its waveform is at hand,
// then WriteReportFile.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <array>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "core/analysis/analysis.h"
#include "core/common/progress.h"
#include "core/waveform/session.h"

namespace korva::render {

// The pictures of one shot as PNG bytes; one left empty is not drawn (a
// failed shot, no spectrum, no hazard run, or a close-up that would show
// no more than the whole interval), with the reason in `missing` when
// there is one worth telling.
struct ShotPictures {
  enum Kind { Pressure, CloseUp, Spectrum, Places, kKinds };
  std::array<QByteArray, kKinds> png;
  std::array<std::string, kKinds> missing;
};

// The picture as PNG bytes; FormatError when it cannot be encoded.
QByteArray PngBytes(const QImage& image);

// Draws the pictures of `shot` from the waveform it was measured on.
ShotPictures DrawShotPictures(const ShotReport& shot, const Session& session);

// The page, with each picture's source given by `source` (shot index, kind)
// and drawn `image_width` pixels wide. Page breaks before each shot matter
// only to paged output.
QString ReportHtml(std::span<const ShotReport> shots, const ShotSummary& summary,
                   const ReportInfo& info, std::span<const ShotPictures> pictures,
                   const std::function<QString(std::size_t, ShotPictures::Kind)>& source,
                   int image_width);

enum class ReportFormat { Html, Pdf };

// The report by the extension of `path` (".pdf" in any case: PDF, otherwise
// HTML), written atomically once complete: a stop request (Cancelled)
// leaves no file.
ReportFormat ReportFormatFor(const std::filesystem::path& path);
void WriteReportFile(std::span<const ShotReport> shots, const ShotSummary& summary,
                     const ReportInfo& info, std::span<const ShotPictures> pictures,
                     const std::filesystem::path& path, ReportFormat format,
                     ProgressSink& progress);

}  // namespace korva::render
