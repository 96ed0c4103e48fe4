// korva-cli import: a foreign recording to a KRV file, as the window's Import
// followed by Save As. The questions the window would ask are answered from
// flags; a question without its flag stops with a message naming the flag.
// Sound and MATLAB files the importer does not read, and any channel or
// part of one, come through the recording reader.
#include "core/waveform/import.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/recording_options.h"
#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/common/progress.h"
#include "core/recording/recording_import.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/import_answers.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace korva::cli {
namespace {

// How the questions' answers are named in messages: by their flags.
const AnswerNames kFlagNames{"flag",
                             "--column N",
                             "--wrapped",
                             "--byte-order little",
                             "--byte-order big",
                             "--channels N (and --channel K)",
                             "--channel K"};

// The one line on a file of several channels read without --channel.
std::string ChannelNote(const RecordingImport& imported) {
  const std::string choice =
      "--channel K picks one of its " + FormatInteger(imported.file_channels) + " channels";
  if (imported.recording) return "channel 0 imported; " + choice;
  if (imported.file_channels == 2 && imported.outcome == ImportOutcome::kImported) {
    return "both channels imported, one after the other; " + choice;
  }
  return choice;
}

int RunImport(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv,
                  WithRecordingOptions({"--out", "-o", "--column", "--byte-order", "--channels",
                                        "--mic", "--title"}),
                  {"--wrapped"});
  if (args.Positional().size() != 1) throw UsageError("give exactly one file to import");
  auto out = args.Value("--out");
  if (!out) out = args.Value("-o");
  if (!out) throw UsageError("give the KRV file to write with --out FILE");

  ImportAnswers answers;
  answers.column = args.Integer("--column");
  answers.wrapped = args.Has("--wrapped");
  answers.channels = args.Integer("--channels");
  answers.channel = args.Integer("--channel");
  if (answers.column && answers.wrapped) {
    throw UsageError("--column and --wrapped exclude each other");
  }
  if (const auto order = args.Value("--byte-order")) {
    if (*order != "little" && *order != "big") {
      throw UsageError("--byte-order takes little or big, not '" + *order + "'");
    }
    answers.little_endian = *order == "little";
  }

  RecordingImportOptions options;
  options.request = ParseRecordingOptions(args, RateOption::kHeaderEntry);
  options.max_samples = kMaxSaveAsSamples;

  const std::string& input = args.Positional().front();
  const bool ok = ForFile(input, io, [&]() {
    Session session;
    AnsweringPrompter prompter(answers, kFlagNames, [&](const std::string& text) {
      io.err << "korva-cli: " << input << ": " << text << "\n";
    });
    QuietProgress progress;
    const RecordingImport imported =
        ImportRecordingFile(session, input, options, prompter, progress);
    if (!options.request.channel && imported.file_channels > 1) {
      io.err << "korva-cli: " << input << ": " << ChannelNote(imported) << "\n";
    }
    if (imported.outcome != ImportOutcome::kImported) {
      throw Error("nothing imported; nothing written");
    }
    if (imported.calibration.calibrated) {
      io.out << input << ": " << imported.calibration.text << "\n";
    }
    try {
      ApplyHeaderEntries(session,
                         {args.Value("--title"), args.Value("--rate"), args.Value("--mic")});
    } catch (const Error& e) {
      throw Error(std::string(e.what()) + "; nothing written");
    }
    const std::int32_t count = session.SampleCount();
    const std::filesystem::path written = SaveKrvAs(session, *out);
    io.out << written.string() << ": " << FormatInteger(count) << " samples at "
           << session.Grid.Cell(1, 2) << " samples/s\n";
  });
  return ok ? 0 : 1;
}

const std::string kHelp =
    std::string(
        "Usage: korva-cli import FILE --out OUT.KRV [options]\n"
        "Reads FILE as the window's Import does (WAV, columns of numbers in text, raw\n"
        "single-precision or 16-bit binary numbers) and writes it with the Save As rules\n"
        "(OUT up to its first '.' followed by .KRV). FLAC, AIFF, W64, RF64, CAF and\n"
        "MATLAB files, WAV files over 64 MiB, and a channel or part of any sound file\n"
        "are read one channel at a time; a KRV file holds at most 1,048,576 samples, so\n"
        "a long recording is imported a part at a time (--from, --to). A WAV file of\n"
        "two channels read whole keeps the window's rule: the left channel, then the\n"
        "right one.\n\n") +
    kRecordingOptionsHelp + "\n" +
    "Answers to the questions the file may raise:\n"
    "  --column N           text with several numbers per line: take column N\n"
    "  --wrapped            text: read every number in file order\n"
    "  --byte-order little|big  binary 16-bit integers: standard or byte-reversed\n"
    "  --channels N --channel K  text files over 64 MiB: N multiplexed text channels,\n"
    "                       keep channel K (0 to N-1)\n"
    "Header values, checked as in the window's grid (--rate above too):\n"
    "  --mic M              microphone location: 1 free field, 2 ear-canal\n"
    "                       entrance, 3 eardrum\n"
    "  --title TEXT         title of the waveform\n"
    "A question whose flag is missing stops with a message naming the flag.\n"
    "The calibration is written into the header beside the format (cell 2 of row 2).\n";

KORVA_CLI_COMMAND(
    {"import", "convert a recording (WAV, FLAC, MATLAB, text, binary...) to a KRV waveform file",
     kHelp.c_str(), &RunImport});

}  // namespace
}  // namespace korva::cli
