// The pages of `korva-cli report` (HTML and PDF) are drawn with Qt and join
// the command only when korva-cli is built with the window; the command
// itself, its tables and its summary need the core alone.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/common/progress.h"
#include "core/waveform/session.h"

namespace korva::cli {

// Collects the shots (drawing each one's pictures while its waveform is at
// hand; a failed shot has none) and writes the pages.
class ReportPages {
 public:
  virtual ~ReportPages() = default;
  virtual void AddShot(const ShotReport& shot, const Session* session) = 0;
  // Writes whichever of the two paths is not empty, each atomically.
  virtual void Write(const ShotSummary& summary, const ReportInfo& info,
                     const std::filesystem::path& html, const std::filesystem::path& pdf,
                     ProgressSink& progress) = 0;
};

using ReportPagesFactory = std::unique_ptr<ReportPages> (*)();

// The page writer of this build, null when korva-cli has no Qt.
ReportPagesFactory& ReportPagesMaker();

struct ReportPagesRegistrar {
  explicit ReportPagesRegistrar(ReportPagesFactory factory) { ReportPagesMaker() = factory; }
};

}  // namespace korva::cli
