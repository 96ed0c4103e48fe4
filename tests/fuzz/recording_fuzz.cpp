// libFuzzer target for the recording reader: any bytes, under any of the
// names a recording has, must be read or refused with a korva::Error, never
// end in a crash, a read outside a buffer, undefined behaviour or a hang.
//
// Input layout: byte 0 chooses the file name and the channel asked for;
// the rest is the file.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/common/error.h"
#include "core/common/progress.h"
#include "core/recording/calibration.h"
#include "core/recording/recording.h"

namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "korva-recording-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return std::filesystem::path(pattern);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kNames[] = {"r.wav", "r.flac", "r.mat", "r.aiff",
                                       "r.caf", "r.w64",  "r",     "r.txt"};
  const std::filesystem::path file = Folder() / kNames[data[0] % 8];
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  korva::NoProgress progress;
  try {
    korva::SourceOptions source;
    source.rate = 8000.0;  // for MAT files, which do not say
    auto reader = korva::RecordingReader::TryOpen(file, source);
    if (reader) {
      const korva::RecordingInfo& info = reader->Info();
      const int channel = (data[0] >> 3) % std::max(info.channels, 1);
      // A damaged header may claim any length; the first frames tell.
      const korva::FrameRange first{0, std::min<std::int64_t>(info.frames, 4096)};
      reader->ReadAll(channel, first, 1.0, progress);
      if (info.frames <= 100000) korva::MeasureCalibratorTone(*reader, channel, progress);
    }
  } catch (const korva::Error&) {
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return 0;
}
