// The pages of `korva-cli report`, drawn by the window's report code.
#include "render/report_pages.h"

#include <QGuiApplication>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/cli/report.h"
#include "app/cli_qt/headless.h"

namespace korva::cli {
namespace {

// The command's pages: the pictures of each shot drawn while its waveform is
// at hand, the files written at the end.
class QtReportPages final : public ReportPages {
 public:
  QtReportPages() : app_(EnsureGuiApplication()) {}

  void AddShot(const ShotReport& shot, const Session* session) override {
    shots_.push_back(shot);
    pictures_.push_back(session != nullptr ? render::DrawShotPictures(shot, *session)
                                           : render::ShotPictures{});
  }

  void Write(const ShotSummary& summary, const ReportInfo& info, const std::filesystem::path& html,
             const std::filesystem::path& pdf, ProgressSink& progress) override {
    if (!html.empty()) {
      render::WriteReportFile(shots_, summary, info, pictures_, html, render::ReportFormat::Html,
                              progress);
    }
    if (!pdf.empty()) {
      render::WriteReportFile(shots_, summary, info, pictures_, pdf, render::ReportFormat::Pdf,
                              progress);
    }
  }

 private:
  std::unique_ptr<QGuiApplication> app_;
  std::vector<ShotReport> shots_;
  std::vector<render::ShotPictures> pictures_;
};

const ReportPagesRegistrar kRegistrar([]() -> std::unique_ptr<ReportPages> {
  return std::make_unique<QtReportPages>();
});

}  // namespace
}  // namespace korva::cli
