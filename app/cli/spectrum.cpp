// korva-cli spectrum: the Leq300ms third-octave spectrum of KRV waveforms,
// written as the window writes it (BASENAME.TOB) and printed as a table.
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/json.h"
#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/common/progress.h"
#include "core/metrics/leq300.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace korva::cli {
namespace {

namespace fs = std::filesystem;

void PrintText(const std::string& file, const Leq300msRun& run, std::ostream& out) {
  const Leq300msSpectrum& s = run.spectrum;
  out << file << ": Leq300ms third-octave spectrum, bands " << FormatInteger(s.bands.first)
      << " to " << FormatInteger(s.bands.last) << "\n"
      << "Freq(Hz)\tLeq(dB)\n";
  for (int b = s.bands.first; b <= s.bands.last; ++b) {
    out << FormatFixed(BandEnergies::CentreFrequency(b), 7, 2) << "\t"
        << FormatFixed(s.bands.Level(b), 8, 2) << "\n";
  }
  out << "narrow-band maximum: " << FormatFixed(s.bins.LargestLevel(), 2) << " dB at "
      << FormatFixed(s.bins.LargestFrequency(), 2) << " Hz\n"
      << "table written to " << run.tob_file.string() << "\n";
}

void PrintJson(const std::string& file, const Leq300msRun& run, std::ostream& out) {
  const Leq300msSpectrum& s = run.spectrum;
  out << "{\"file\": " << JsonString(file)
      << ", \"tob_file\": " << JsonString(run.tob_file.string())
      << ", \"df_hz\": " << FormatShortest(s.bins.df)
      << ", \"narrow_band_max_db\": " << FormatShortest(s.bins.LargestLevel())
      << ", \"narrow_band_max_hz\": " << FormatShortest(s.bins.LargestFrequency())
      << ", \"bands\": [";
  for (int b = s.bands.first; b <= s.bands.last; ++b) {
    out << (b == s.bands.first ? "" : ", ") << "{\"band\": " << FormatInteger(b)
        << ", \"centre_hz\": " << FormatShortest(BandEnergies::CentreFrequency(b))
        << ", \"level_db\": " << FormatShortest(s.bands.Level(b)) << "}";
  }
  out << "]}\n";
}

int RunSpectrum(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"--dir"}, {"--json"});
  if (args.Positional().empty()) throw UsageError("give at least one KRV file");
  const fs::path folder = args.Value("--dir").value_or(".");
  const bool json = args.Has("--json");
  return ForEachWaveform(args.Positional(), io, [&](const std::string& file, Session& session) {
    const Leq300msRun run = RunLeq300msSpectrum(session, folder);
    if (json) {
      PrintJson(file, run, io.out);
    } else {
      PrintText(file, run, io.out);
    }
  });
}

KORVA_CLI_COMMAND({"spectrum",
                   "Leq300ms third-octave spectrum of KRV waveforms (writes BASENAME.TOB)",
                   "Usage: korva-cli spectrum FILE... [--dir DIR] [--json]\n"
                   "Opens each FILE as the window's Open does and computes the energy of the\n"
                   "whole waveform in each one-third-octave band, as the steady level that,\n"
                   "lasting 300 ms, would carry the same energy (dB re 20 uPa, rho c = 407 rayl).\n"
                   "Bands run from the one at the frequency resolution up to two bands below\n"
                   "the one whose centre reaches half the sample rate (at most -20 to 60, that\n"
                   "is 10 mHz to 1 MHz). The table is written, as the window writes it, to\n"
                   "BASENAME.TOB (the file's name up to its first '.') in the current folder or\n"
                   "in DIR, replacing a file of that name only once it is complete; the band\n"
                   "table and the largest narrow-band value are printed.\n\n"
                   "  --dir DIR  write the .TOB table into DIR instead of the current folder\n"
                   "  --json     one JSON object per file and line: file, tob_file, df_hz,\n"
                   "             narrow_band_max_db, narrow_band_max_hz and bands (band number,\n"
                   "             centre_hz, level_db), numbers at full precision\n"
                   "A waveform without energy in its bands gets no table. A file that cannot be\n"
                   "read or analysed is reported on stderr and the exit status is 1.\n",
                   &RunSpectrum});

}  // namespace
}  // namespace korva::cli
