// korva-cli import: a foreign recording to a KRV file, as the window's Import
// followed by Save As. The questions the window would ask are answered from
// flags; a question without its flag stops with a message naming the flag.
#include "core/waveform/import.h"

#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/common/progress.h"
#include "core/common/prompter.h"
#include "core/waveform/grid_edit.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace korva::cli {
namespace {

struct ImportFlags {
  std::optional<long long> column;
  bool wrapped = false;
  std::optional<std::string> byte_order;
  std::optional<long long> channels;
  std::optional<long long> channel;
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Answers the importer's questions from the command line.
class FlagPrompter final : public Prompter {
 public:
  FlagPrompter(const ImportFlags& flags, const std::string& file, Streams& io)
      : flags_(flags), file_(file), io_(io) {}

  std::string AskText(const std::string&, const std::string& question,
                      const std::string&) override {
    // The entry prompts ask again after a value outside their range; a flag
    // cannot change its answer, so the second time is an error, not a loop.
    if (!asked_.insert(question).second) {
      throw Error("the value given does not answer \"" + question + "\"");
    }
    if (StartsWith(question, "Spreadsheet column number")) {
      return Reply(flags_.column, "--column N", question);
    }
    if (StartsWith(question, "Number of channels")) {
      return Reply(flags_.channels, "--channels N (and --channel K)", question);
    }
    if (StartsWith(question, "Channel to import")) {
      return Reply(flags_.channel, "--channel K", question);
    }
    throw Error("no flag answers the question \"" + question + "\"");
  }

  korva::Answer AskYesNoCancel(const std::string&, const std::string& question) override {
    if (question.find("columns of numbers were detected") != std::string::npos) {
      if (flags_.column) return korva::Answer::kYes;
      if (flags_.wrapped) return korva::Answer::kNo;
      const std::string columns = question.substr(0, question.find(' '));
      throw Error(columns +
                  " column(s) of numbers on each line: give --column N to import one column of "
                  "a spreadsheet, or --wrapped to read every number in file order");
    }
    if (question == kBinaryIntegerQuestion) {
      if (flags_.byte_order == "little") return korva::Answer::kYes;
      if (flags_.byte_order == "big") return korva::Answer::kNo;
      throw Error(
          "the file may hold 16-bit binary integers: give --byte-order little (standard) or "
          "--byte-order big (byte-reversed)");
    }
    throw Error("no flag answers the question \"" + OneLine(question) + "\"");
  }

  bool AskOkCancel(const std::string&, const std::string& question) override {
    throw Error("no flag answers the question \"" + OneLine(question) + "\"");
  }

  void Inform(const std::string&, const std::string& text) override {
    io_.err << "korva-cli: " << file_ << ": " << OneLine(text) << "\n";
  }

 private:
  static std::string Reply(const std::optional<long long>& value, const std::string& flag,
                           const std::string& question) {
    if (!value) throw Error("give " + flag + " to answer \"" + question + "\"");
    return FormatInteger(*value);
  }

  const ImportFlags& flags_;
  std::string file_;
  Streams& io_;
  std::set<std::string> asked_;
};

// Applies --title, --rate and --mic with the rules of the grid's input cells.
void ApplyGridEdits(Session& session, const Args& args) {
  PendingGridEdits pending;
  auto edit = [&](const char* option, int column, int row) {
    if (const auto value = args.Value(option)) {
      session.Grid.Cell(column, row) = *value;
      pending.Mark(column, row);
    }
  };
  edit("--title", 2, 1);
  edit("--rate", 1, 2);
  edit("--mic", 1, 3);
  if (!pending.Any()) return;
  const GridEditResult result = ProcessCell(session, pending);
  if (!result.refusals.empty()) {
    std::string message;
    for (const std::string& refusal : result.refusals) {
      message += (message.empty() ? "" : "; ") + refusal;
    }
    throw Error(message + "; nothing written");
  }
}

int RunImport(const std::vector<std::string>& argv, Streams& io) {
  const Args args(argv,
                  {"--out", "-o", "--column", "--byte-order", "--channels", "--channel", "--rate",
                   "--mic", "--title"},
                  {"--wrapped"});
  if (args.Positional().size() != 1) throw UsageError("give exactly one file to import");
  auto out = args.Value("--out");
  if (!out) out = args.Value("-o");
  if (!out) throw UsageError("give the KRV file to write with --out FILE");

  ImportFlags flags;
  flags.column = args.Integer("--column");
  flags.wrapped = args.Has("--wrapped");
  flags.byte_order = args.Value("--byte-order");
  flags.channels = args.Integer("--channels");
  flags.channel = args.Integer("--channel");
  if (flags.column && flags.wrapped) throw UsageError("--column and --wrapped exclude each other");
  if (flags.byte_order && *flags.byte_order != "little" && *flags.byte_order != "big") {
    throw UsageError("--byte-order takes little or big, not '" + *flags.byte_order + "'");
  }

  const std::string& input = args.Positional().front();
  const bool ok = ForFile(input, io, [&]() {
    Session session;
    FlagPrompter prompter(flags, input, io);
    QuietProgress progress;
    const ImportOutcome outcome = ImportWaveform(session, input, prompter, progress);
    if (outcome != ImportOutcome::kImported) throw Error("nothing imported; nothing written");
    ApplyGridEdits(session, args);
    const std::int32_t count = session.SampleCount();
    const std::filesystem::path written = SaveKrvAs(session, *out);
    io.out << written.string() << ": " << FormatInteger(count) << " samples at "
           << session.Grid.Cell(1, 2) << " samples/s\n";
  });
  return ok ? 0 : 1;
}

KORVA_CLI_COMMAND({"import", "convert a WAV, text or binary recording to a KRV waveform file",
                   "Usage: korva-cli import FILE --out OUT.KRV [options]\n"
                   "Reads FILE as the window's Import does (WAV, columns of numbers in text,\n"
                   "raw single-precision or 16-bit binary numbers) and writes it with the Save As\n"
                   "rules (OUT up to its first '.' followed by .KRV).\n\n"
                   "Answers to the questions the file may raise:\n"
                   "  --column N           text with several numbers per line: take column N\n"
                   "  --wrapped            text: read every number in file order\n"
                   "  --byte-order little|big  binary 16-bit integers: standard or byte-reversed\n"
                   "  --channels N --channel K  files over 64 MiB: N multiplexed text channels,\n"
                   "                       keep channel K (0 to N-1)\n"
                   "Header values, checked as in the window's grid:\n"
                   "  --rate R             sample rate in samples/s (a number of at least 1)\n"
                   "  --mic M              microphone location: 1 free field, 2 ear-canal\n"
                   "                       entrance, 3 eardrum\n"
                   "  --title TEXT         title of the waveform\n"
                   "A question whose flag is missing stops with a message naming the flag.\n",
                   &RunImport});

}  // namespace
}  // namespace korva::cli
