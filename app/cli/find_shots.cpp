// korva-cli shots: the shots of one channel of a field recording, listed as
// they are found and, with --out, each written as a KRV file of its own. The
// recording is read once, block by block: memory does not grow with it.
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/json.h"
#include "app/cli/recording_options.h"
#include "core/common/numbers.h"
#include "core/recording/recording_shots.h"
#include "core/recording/shot_files.h"

namespace korva::cli {
namespace {

enum class Format { kText, kJson, kCsv };

void PrintShot(const Shot& shot, const std::optional<std::filesystem::path>& written, Format format,
               std::ostream& out) {
  switch (format) {
    case Format::kJson:
      out << "{\"shot\": " << FormatInteger(shot.number)
          << ", \"time_s\": " << FormatShortest(shot.time_s)
          << ", \"first_sample\": " << FormatInteger(shot.first_sample)
          << ", \"samples\": " << FormatInteger(shot.samples)
          << ", \"peak_db\": " << FormatShortest(shot.peak_db)
          << ", \"peak_pa\": " << FormatShortest(shot.peak_pa)
          << ", \"channel\": " << FormatInteger(shot.channel);
      if (written) out << ", \"file\": " << JsonString(written->string());
      out << "}\n";
      break;
    case Format::kCsv:
      out << FormatInteger(shot.number) << "," << FormatShortest(shot.time_s) << ","
          << FormatInteger(shot.first_sample) << "," << FormatInteger(shot.samples) << ","
          << FormatShortest(shot.peak_db) << "," << FormatShortest(shot.peak_pa) << ","
          << FormatInteger(shot.channel);
      if (written) out << "," << CsvField(written->string());
      out << "\n";
      break;
    case Format::kText:
      out << "shot " << FormatInteger(shot.number) << " at " << FormatFixed(shot.time_s, 3)
          << " s: peak " << FormatFixed(shot.peak_db, 2) << " dB re 20 uPa ("
          << FormatFixed(shot.peak_pa, 1) << " Pa), " << FormatInteger(shot.samples)
          << " samples from sample " << FormatInteger(shot.first_sample);
      if (written) out << " -> " << written->string();
      out << "\n";
      break;
  }
  // A long recording's shots are seen as they come.
  out.flush();
}

std::string LevelsText(const DetectionSummary& s) {
  std::string text = FormatInteger(s.shots) + (s.shots == 1 ? " shot" : " shots");
  text += "; background " + (s.background_db ? FormatFixed(*s.background_db, 1) + " dB"
                                             : std::string("below -40 dB"));
  text += ", threshold " + FormatFixed(s.threshold_db, 1) + " dB";
  if (s.peak_db) {
    text += "; largest pressure " + FormatFixed(*s.peak_db, 1) + " dB at " +
            FormatFixed(s.peak_time_s, 3) + " s";
  }
  return text;
}

void PrintSummary(const RecordingShots& found, Format format, std::ostream& out,
                  const std::string& input, Streams& io) {
  const DetectionSummary& s = found.summary;
  if (format == Format::kJson) {
    const auto number = [](const std::optional<double>& v) { return JsonNumber(v); };
    out << "{\"summary\": true, \"shots\": " << FormatInteger(s.shots)
        << ", \"background_db\": " << number(s.background_db)
        << ", \"threshold_db\": " << FormatShortest(s.threshold_db)
        << ", \"peak_db\": " << number(s.peak_db)
        << ", \"peak_time_s\": " << FormatShortest(s.peak_time_s)
        << ", \"channel\": " << FormatInteger(found.source.channel)
        << ", \"calibration\": " << JsonString(found.source.calibration.text) << "}\n";
  } else if (format == Format::kText) {
    out << input << ": " << LevelsText(s) << "\n";
  } else if (s.shots > 0) {
    // The table stays one table; the levels go beside it.
    io.err << "korva-cli: " << input << ": " << LevelsText(s) << "\n";
  }
}

int RunShots(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, WithShotOptions({"--out", "-o"}), {"--json", "--csv"});
  if (args.Positional().size() != 1) throw UsageError("give exactly one recording");
  if (args.Has("--json") && args.Has("--csv")) throw UsageError("choose one of --json and --csv");
  const Format format = args.Has("--json")  ? Format::kJson
                        : args.Has("--csv") ? Format::kCsv
                                            : Format::kText;
  const ShotSearch search = ParseShotSearch(args);
  std::optional<std::filesystem::path> out = args.Value("--out");
  if (!out) out = args.Value("-o");
  if (!out && args.Has("--mic")) throw UsageError("--mic sets the files --out writes");

  const std::string& input = args.Positional().front();
  std::optional<RecordingShots> found;
  const bool ok = ForFile(input, io, [&]() {
    if (out) {
      // Every window must fit in its file; known before a sample is read.
      CheckShotWindowLength(search.shots,
                            RecordingReader(input, search.recording.source).Info().RequireRate());
      std::error_code ec;
      std::filesystem::create_directories(*out, ec);
      if (!std::filesystem::is_directory(*out)) {
        throw IoError(WithFile(out->string(), "cannot make the folder: " + ec.message()));
      }
    }
    if (format == Format::kCsv) {
      io.out << "shot,time_s,first_sample,samples,peak_db,peak_pa,channel"
             << (out ? ",file\n" : "\n");
    }
    QuietProgress progress;
    bool calibration_shown = false;
    found = FindRecordingShots(input, search, progress, [&](const ShotSource& source, Shot&& shot) {
      if (format == Format::kText && !calibration_shown) {
        io.out << input << ": channel " << FormatInteger(source.channel) << ", "
               << source.calibration.text << "\n";
        calibration_shown = true;
      }
      std::optional<std::filesystem::path> written;
      if (out) written = WriteShotFile(source, shot, *out);
      PrintShot(shot, written, format, io.out);
    });
  });
  if (!ok) return 1;
  PrintSummary(*found, format, io.out, input, io);
  if (found->summary.shots == 0) {
    ReportFileError(input, NoShotsText(found->summary), io);
    return 1;
  }
  return 0;
}

const std::string kHelp =
    std::string(
        "Usage: korva-cli shots REC [--channel K] [calibration] [--from S --to S]\n"
        "                       [--threshold DB] [--min-peak DB] [--pre MS] [--post MS]\n"
        "                       [--min-gap MS] [--json | --csv] [--out DIR [--mic M]]\n"
        "Finds the shots in one channel of a field recording, reading it once, block by\n"
        "block, and lists each as it is found: its number, the time of its start in\n"
        "seconds from the recording's start (where |p| crossed the threshold), the first\n"
        "sample and the sample count of its window, and its peak (dB re 20 uPa and Pa,\n"
        "signed). Then the levels the search saw: the background, the threshold and the\n"
        "largest pressure.\n\n"
        "  --json          one object per shot and line (shot, time_s, first_sample,\n"
        "                  samples, peak_db, peak_pa, channel, and file with --out), then\n"
        "                  {\"summary\": true, \"shots\", \"background_db\", \"threshold_db\",\n"
        "                  \"peak_db\", \"peak_time_s\", \"channel\", \"calibration\"}\n"
        "  --csv           the same columns under a header row; the levels on stderr\n"
        "  --out DIR       write each shot as DIR/NAME-shot001.KRV (NAME: the recording's\n"
        "                  name without its extension; DIR is made when missing), titled\n"
        "                  \"NAME shot 1 at 12.345 s\", with the recording's format, the\n"
        "                  channel, the window's part and the calibration in the comment\n"
        "                  cell. 'korva-cli hazard' and 'report --shots' give the same\n"
        "                  numbers for a shot.\n\n") +
    kShotOptionsHelp + "\n" + kRecordingOptionsHelp +
    "\nExit status: 0 when shots were found, 1 when none was (the message gives the\n"
    "largest pressure, the background and the threshold) or the recording cannot be\n"
    "read, 2 bad usage, 130 when Ctrl-C stopped it (the shots listed and the files\n"
    "written until then stay, each file whole).\n";

KORVA_CLI_COMMAND({"shots", "find the shots in a field recording; write each as a KRV file",
                   kHelp.c_str(), &RunShots});

}  // namespace
}  // namespace korva::cli
