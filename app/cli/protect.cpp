// korva-cli protect: the window's hearing-protector command from a shell.
// The chosen default-mode record of the protector table is read (or modelled
// from its seed file), its circuit values are written back into the table,
// and the waveform is predicted under the protector and at the eardrum and
// written as FILE_NAME_90.KRV.
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/json.h"
#include "app/cli/protector_choice.h"
#include "core/common/data_dir.h"
#include "core/common/numbers.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"
#include "core/protection/protect_command.h"
#include "core/waveform/krv.h"

namespace korva::cli {
namespace {

namespace fs = std::filesystem;

// Peak level in dB re 20 uPa, two decimals; "null"/"-" for silence.
std::string PeakDb(float pascals, bool json) {
  const std::optional<double> level = PeakLevel(pascals);
  return level ? FormatFixed(*level, 2) : json ? "null" : "-";
}

int List(const fs::path& table_path, Streams& io) {
  const ProtectorTable table = ReadProtectorTable(table_path);
  for (const int index : table.DefaultModeItems()) {
    const ProtectorRecord& r = table.records[static_cast<std::size_t>(index)];
    const ProtectorCodeInfo code = ClassifyProtectorCode(r.code, "");
    std::string shown = r.code;
    while (!shown.empty() && shown.back() == ' ') shown.pop_back();
    io.out << r.name << "\t" << KindText(code.word) << "\t" << shown << "\n";
  }
  if (table.truncated)
    io.err << "korva-cli: " << table_path.string() << ": only the first 1001 records are read\n";
  return 0;
}

int RunProtect(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv, {"--protector", "--table", "--model", "--output-dir"},
                  {"--list", "--json"});
  const std::optional<ProtectorTableChoice> choice = ChosenProtectorTable(args, io);
  if (!choice) return 1;
  fs::path table_path = choice->table;
  if (args.Has("--list")) {
    if (!args.Positional().empty()) throw UsageError("--list takes no input file");
    int status = 1;
    ForFile(table_path.string(), io, [&] { status = List(table_path, io); });
    return status;
  }
  if (args.Positional().size() != 1) throw UsageError("give exactly one input file");
  if (!args.Value("--protector")) throw UsageError("name the protector with --protector NAME");
  const std::string file = args.Positional().front();

  // Everything is found and checked before the table is touched.
  const std::optional<ChosenProtector> chosen = FindChosenProtector(args, table_path, io);
  if (!chosen) return 1;
  // The program's own table is rewritten as the user's copy.
  if (choice->data_dir && !ForFile(table_path.string(), io, [&] {
        table_path = DataFileForWriting(*choice->data_dir, kProtectorTableName);
      })) {
    return 1;
  }

  ProtectResult result;
  const bool ok = ForFile(file, io, [&] {
    QuietProgress progress;
    Session session;
    OpenWaveform(session, file, progress);
    ProtectorCommandState state;
    ProtectOptions options;
    options.table = table_path;
    options.seed_folder = choice->seed_folder;
    options.output_folder =
        args.Value("--output-dir") ? fs::path(*args.Value("--output-dir")) : fs::path(".");
    options.chosen_file_name = fs::path(file).filename().string();
    options.record_index = chosen->record;
    options.expected_name = chosen->name;
    result = GetHPDData(session, state, chosen->ear_model, options, progress);
  });
  if (!ok) return 1;

  const std::optional<double> ipil = PeakInsertionLoss(result);
  if (args.Has("--json")) {
    io.out << "{\"file\":" << JsonString(file)
           << ",\"protector\":" << JsonString(result.data.record.name)
           << ",\"kind\":" << JsonString(KindText(result.code.word))
           << ",\"code\":" << JsonString(result.code.model_code)
           << ",\"seeded\":" << (result.seeded ? "true" : "false")
           << ",\"rms_error_db\":" << FormatFixed(result.plot.rms_error, 3)
           << ",\"model_file\":" << JsonString(chosen->model_id.file)
           << ",\"model_sha256\":" << JsonString(chosen->model_id.sha256)
           << ",\"output\":" << JsonString(result.output.string())
           << ",\"samples\":" << FormatInteger(result.samples_written)
           << ",\"peak_free_field_db\":" << PeakDb(result.peak_free_field, true)
           << ",\"peak_under_protector_db\":" << PeakDb(result.peak_under_protector, true)
           << ",\"peak_eardrum_db\":" << PeakDb(result.peak_eardrum, true)
           << ",\"peak_insertion_loss_db\":"
           << (ipil ? FormatFixed(*ipil, 2) : "null")
           // A table that cannot be rewritten stops the command before this.
           << ",\"table_rewritten\":true}\n";
  } else {
    io.out << file << ": " << result.data.record.name << " (" << KindText(result.code.word)
           << (result.seeded ? ", modelled from the seed file" : "") << ")\n"
           << "  " << result.plot.rms_text << "\n"
           << "  peak level: free field " << PeakDb(result.peak_free_field, false)
           << " dB, under the protector " << PeakDb(result.peak_under_protector, false)
           << " dB, at the eardrum " << PeakDb(result.peak_eardrum, false) << " dB\n"
           << "  peak insertion loss " << (ipil ? FormatFixed(*ipil, 2) : "-") << " dB\n"
           << "  wrote " << result.output.string() << " (" << FormatInteger(result.samples_written)
           << " samples)\n";
  }
  return 0;
}

}  // namespace

KORVA_CLI_COMMAND(
    {"protect", "predict a waveform under a hearing protector (rewrites the protector table)",
     "Usage: korva-cli protect FILE.KRV --protector NAME [options]\n"
     "       korva-cli protect --list [--table FILE]\n"
     "Runs the window's hearing-protector command on FILE.KRV: shows how well the\n"
     "protector's circuit values match its measured attenuation (RMS error), predicts\n"
     "the waveform under the protector and at the eardrum for sound at normal\n"
     "incidence, and writes it as BASE_NAME_90.KRV (BASE: FILE up to its first \".\")\n"
     "with microphone location 3 (eardrum).\n"
     "Like the window, the command REWRITES THE PROTECTOR TABLE: the record's line of\n"
     "circuit values is written back in the program's own form (a record that had\n"
     "none gets the values of its seed file). The table is replaced in one step, so a\n"
     "failure leaves it as it was. The table installed with the program is never\n"
     "written: it is copied to ~/.local/share/korva ($XDG_DATA_HOME/korva) first,\n"
     "and that copy is read and rewritten from then on.\n"
     "Options:\n"
     "  --protector NAME  a default-mode record of the table (see --list); '-', '.',\n"
     "                    '/' and the like may be given as '_', any case\n"
     "  --table FILE      the protector table (default: \"HPD Atten.txt\" in the current\n"
     "                    folder, $KORVA_DATA_DIR or the program's data folder, with\n"
     "                    the seed files of that folder); the seed files of FILE\n"
     "                    are read from its folder\n"
     "  --model FILE      the ear-model parameter file (default: named by Man.Fig)\n"
     "  --output-dir DIR  where the protected KRV file goes (default: current folder)\n"
     "  --list            list the default-mode protectors: name, kind, code\n"
     "  --json            one JSON object: protector, kind, code, seeded, rms_error_db,\n"
     "                    model_file, model_sha256 (the ear-model file and its\n"
     "                    SHA-256), output, samples, peak levels (dB re 20 uPa) of the free\n"
     "                    field, under the protector and at the eardrum, the peak\n"
     "                    insertion loss (free field to under the protector) and\n"
     "                    table_rewritten\n"
     "Exit status: 0 done, 1 bad input or the table could not be rewritten, 2 bad usage.\n",
     &RunProtect});

}  // namespace korva::cli
