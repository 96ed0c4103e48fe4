// korva-cli overlay: the window's "Overlay KRV waveform" without the drawing.
// Compares FIRST (the free-field or reference recording) with SECOND (the
// recording at the ear) band by band and appends the line of noise
// reductions to the shared table "TOB.txt".
#include "core/protection/overlay.h"

#include <cmath>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "core/common/data_dir.h"
#include "core/common/numbers.h"
#include "core/waveform/krv.h"

namespace korva::cli {
namespace {

namespace fs = std::filesystem;

fs::path DefaultTable() {
  const auto dir = FindDataDir();
  if (!dir) {
    throw IoError(
        "no data folder (Man.Fig) in the current folder, in $KORVA_DATA_DIR or in the "
        "program's data folder (name the table with --table FILE)");
  }
  // The program's own data folder is never written: its table goes to the user's copy.
  return DataFileForWriting(*dir, kNoiseReductionTablePath);
}

int RunOverlay(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"--table"}, {});
  if (args.Positional().size() != 2) throw UsageError("give two KRV files: FIRST and SECOND");
  const std::string first = args.Positional()[0];
  const std::string second = args.Positional()[1];
  fs::path table;
  try {
    table = args.Value("--table") ? fs::path(*args.Value("--table")) : DefaultTable();
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what() << "\n";
    return 1;
  }

  QuietProgress progress;
  Session session;
  if (!ForFile(first, io, [&] { OpenWaveform(session, first, progress); })) return 1;
  // The program's own dither stream, as at start-up.
  Lcg generator(0);
  OverlayResult result;
  if (!ForFile(second, io,
               [&] { result = OverlayKRVWaveform(session, generator, second, table, progress); })) {
    return 1;
  }
  io.out << result.OverlayLabel << "\n"
         << "band\tcentre (Hz)\tdifference (dB)\tcorrection (dB)\twritten (dB)\n";
  // One decimal or two: a value that rounds to nothing is shown without a sign.
  const auto text = [](double value, int decimals) {
    std::string t = FormatFixed(value, decimals);
    if (t.find_first_not_of("-0.") == std::string::npos && t[0] == '-') t.erase(0, 1);
    return t;
  };
  for (int n = kTableFirstBand; n <= kTableLastBand; ++n) {
    const auto& d = result.differences[static_cast<std::size_t>(n - kTableFirstBand)];
    const float c = EarCanalCorrection(n);
    io.out << FormatInteger(n) << "\t" << FormatFixed(std::pow(10.0, n / 10.0), 1) << "\t"
           << (d ? text(*d, 2) : "-") << "\t" << FormatFixed(c, 1) << "\t"
           << (d ? text(*d - c, 1) : "-") << "\n";
  }
  io.out << (result.header_written ? "created " : "appended to ") << result.table.string() << "\n";
  return 0;
}

}  // namespace

KORVA_CLI_COMMAND(
    {"overlay", "band-by-band noise reduction of a second recording, appended to TOB.txt",
     "Usage: korva-cli overlay FIRST.KRV SECOND.KRV [--table FILE]\n"
     "Compares two recordings of one event as the window's \"Overlay KRV waveform\"\n"
     "does: FIRST (free field, opened as the window opens it) and SECOND (at the ear,\n"
     "read as an overlay and cut to FIRST's time window). Prints, for the third-octave\n"
     "bands 17 (50 Hz) to 40 (10 kHz), the level difference SECOND - FIRST, the\n"
     "open-ear correction for normal incidence (subtracted from band 23 up) and the\n"
     "value written, and appends that line, labelled FIRST_to_SECOND with the codes\n"
     "3, 1, 0, to the noise-reduction table (its header line is written when the\n"
     "table is created). Bands the recordings cannot resolve are left empty.\n"
     "Options:\n"
     "  --table FILE  the table (default: \"Dat/Hearing Protectors/TOB.txt\" in the\n"
     "                data folder: the current folder when it holds Man.Fig, else\n"
     "                $KORVA_DATA_DIR or the program's data folder); its folder must\n"
     "                exist. The table of the data folder installed with the program\n"
     "                is never written: it is kept in ~/.local/share/korva\n"
     "                ($XDG_DATA_HOME/korva) under the same name instead.\n"
     "Exit status: 0 done, 1 bad input or the table could not be written, 2 bad usage.\n",
     &RunOverlay});

}  // namespace korva::cli
