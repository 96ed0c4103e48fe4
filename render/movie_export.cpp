#include "render/movie_export.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <memory>
#include <string>

#include "core/common/error.h"
#include "core/common/files.h"
#include "render/recipes.h"

namespace korva::render {
namespace {

namespace fs = std::filesystem;

// ffmpeg's last lines: where it says why it failed.
std::string Tail(const QByteArray& text) {
  const QList<QByteArray> lines = text.trimmed().split('\n');
  std::string tail;
  for (qsizetype i = std::max<qsizetype>(0, lines.size() - 3); i < lines.size(); ++i) {
    tail += "\n" + lines[i].trimmed().toStdString();
  }
  return tail;
}

}  // namespace

std::optional<fs::path> FindFfmpeg() {
  const QString found = QStandardPaths::findExecutable("ffmpeg");
  if (found.isEmpty()) return std::nullopt;
  return fs::path(found.toStdString());
}

int MovieVideoFrames(std::int32_t last_frame, int step) {
  if (last_frame < 1) return 1;
  step = std::max(step, 1);
  return static_cast<int>((last_frame - 1) / step) + 1 + ((last_frame - 1) % step != 0 ? 1 : 0);
}

void SaveMovie(const MovieInput& input, const PressurePlotInput& waveform, float max_hazard,
               const MovieExportOptions& options, const fs::path& file, ProgressSink& progress) {
  const std::optional<fs::path> ffmpeg = FindFfmpeg();
  if (!ffmpeg) {
    throw Error(
        "saving a movie needs the ffmpeg program, which was not found on PATH "
        "(Debian: apt-get install ffmpeg)");
  }
  const int width = options.size.width() / 2 * 2;
  const int height = options.size.height() / 2 * 2;
  const bool gif = file.extension() == ".gif" || file.extension() == ".GIF";
  // ffmpeg writes next to the target and the file is renamed when complete.
  const fs::path partial =
      file.parent_path() / (file.filename().string() + ".part" + file.extension().string());
  QStringList arguments{"-y",
                        "-loglevel",
                        "error",
                        "-f",
                        "rawvideo",
                        "-pix_fmt",
                        "bgr0",
                        "-s",
                        QString("%1x%2").arg(width).arg(height),
                        "-r",
                        QString::number(options.frames_per_second),
                        "-i",
                        "-"};
  if (gif) {
    arguments << "-f"
              << "gif";
  } else {
    arguments << "-c:v"
              << "libx264"
              << "-pix_fmt"
              << "yuv420p"
              << "-f"
              << "mp4";
  }
  arguments << QString::fromStdString(partial.string());

  QProcess encoder;
  encoder.start(QString::fromStdString(ffmpeg->string()), arguments);
  if (!encoder.waitForStarted()) {
    throw Error("cannot start " + ffmpeg->string() + ": " + encoder.errorString().toStdString());
  }
  auto abandon = [&] {
    encoder.kill();
    encoder.waitForFinished();
    std::error_code ignored;
    fs::remove(partial, ignored);
  };

  try {
    auto movie = std::make_shared<MovieFrames>();
    movie->Load(input);
    movie->SetStep(options.step);
    Picture picture;
    picture.lower = {MovieWaveform(waveform, max_hazard), MovieFrame(movie)};
    QImage image(width, height, QImage::Format_RGB32);
    const int total = MovieVideoFrames(input.last_frame, options.step);
    std::int32_t frame = 1;
    for (int n = 0; n < total; ++n) {
      progress.Checkpoint(n, total);
      movie->SeekTo(frame);
      Surface surface(image);
      PlotState state;
      picture.Render(surface, state);
      const char* bytes = reinterpret_cast<const char*>(image.constBits());
      if (encoder.write(bytes, image.sizeInBytes()) != image.sizeInBytes()) {
        throw Error("ffmpeg stopped taking frames:" + Tail(encoder.readAllStandardError()));
      }
      // The pipe is drained as it goes, so memory stays flat on long movies.
      while (encoder.bytesToWrite() > 0 && encoder.waitForBytesWritten(1000)) {
      }
      frame = std::min(frame + options.step, std::max<std::int32_t>(input.last_frame, 1));
    }
    progress.Checkpoint(total, total);
    encoder.closeWriteChannel();
    encoder.waitForFinished(-1);
    if (encoder.exitStatus() != QProcess::NormalExit || encoder.exitCode() != 0) {
      throw Error("ffmpeg could not encode " + file.filename().string() + ":" +
                  Tail(encoder.readAllStandardError()));
    }
  } catch (...) {
    abandon();
    throw;
  }
  std::error_code error;
  fs::rename(partial, file, error);
  if (error) {
    fs::remove(partial, error);
    throw Error("cannot write " + file.string() + ": " + error.message());
  }
}

}  // namespace korva::render
