#include "tests/support/recordings.h"

#include <stdexcept>

#include "core/common/numbers.h"
#include "tests/support/temp_dir.h"

namespace korva::testing {
namespace {

std::string Script() {
  return "/usr/bin/python3 " + Quoted(std::filesystem::path(KORVA_TEST_DATA_DIR) / "recordings.py");
}

void Run(const std::string& arguments) {
  std::string output;
  if (Shell(Script() + " " + arguments, &output) != 0) {
    throw std::runtime_error("recordings.py " + arguments + " failed: " + output);
  }
}

}  // namespace

const std::filesystem::path& RecordingFixtures() {
  static const TempDir folder;
  static const bool written = [] {
    Run("fixtures " + Quoted(folder.path()));
    return true;
  }();
  (void)written;
  return folder.path();
}

std::int64_t PatternInteger(std::int64_t frame, std::int64_t channel, int bits) {
  const std::int64_t span = std::int64_t{1} << bits;
  return (frame * 7919 + channel * 104729 + 12345) % span - span / 2;
}

double PatternFloat(std::int64_t frame, std::int64_t channel) {
  return static_cast<double>((frame * 37 + channel * 1009) % 2001 - 1000) / 1024.0;
}

void WriteTone(const std::filesystem::path& path, double frequency, double amplitude,
               const std::string& extra) {
  Run("tone " + Quoted(path) + " " + FormatShortest(frequency) + " " + FormatShortest(amplitude) +
      " " + extra);
}

}  // namespace korva::testing
