#include "app/cli/protector_choice.h"

#include <ostream>

#include "core/model/hazard.h"

namespace korva::cli {

namespace fs = std::filesystem;

std::optional<ProtectorTableChoice> ChosenProtectorTable(const Args& args, Streams& io) {
  const std::optional<std::string> given = args.Value("--table");
  try {
    return ChooseProtectorTable(given ? std::optional<fs::path>(*given) : std::nullopt);
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what();
    if (!given) io.err << " (name one with --table FILE)";
    io.err << "\n";
    return std::nullopt;
  }
}

std::optional<ChosenProtector> FindChosenProtector(const Args& args, const fs::path& table,
                                                   Streams& io) {
  ChosenProtector chosen;
  chosen.name = args.Value("--protector").value_or("");
  try {
    const fs::path model_file = ChooseModelFile(args.Value("--model").value_or(""));
    chosen.ear_model = ReadEarModelFile(model_file);
    chosen.model_id = IdentifyModelFile(model_file);
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what() << "\n";
    return std::nullopt;
  }
  const bool found = ForFile(table.string(), io, [&] {
    const std::optional<int> record = ReadProtectorTable(table).FindDefaultMode(chosen.name);
    if (!record) {
      throw Error("no default-mode protector named \"" + chosen.name +
                  "\" (see korva-cli protect --list)");
    }
    chosen.record = *record;
  });
  if (!found) return std::nullopt;
  return chosen;
}

}  // namespace korva::cli
