// korva-cli: the analyses of the window from a shell.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/command.h"
#include "app/cli/drawing.h"
#include "core/common/data_dir.h"
#include "core/common/error.h"
#include "core/model/ear_model.h"
#include "core/model/hazard.h"

namespace {

void PrintUsage(std::ostream& out) {
  // Without the drawing module the list shows the commands there are.
  korva::cli::LoadDrawing();
  out << "Usage: korva-cli COMMAND [options] FILE...\n"
         "Impulse-noise hazard analysis with a model of the human ear.\n\n"
         "Commands:\n";
  for (const auto& [name, command] : korva::cli::Commands()) {
    std::string padded = name;
    padded.resize(10, ' ');
    out << "  " << padded << command.summary << "\n";
  }
  out << "\nRun 'korva-cli COMMAND --help' for the options of a command, and\n"
         "'korva-cli --version' for the data folder and ear-model file in use.\n"
         "Exit status: 0 success, 1 bad input, 2 bad usage, 130 interrupted\n"
         "(Ctrl-C stops the computation; no file is left half-written).\n";
}

// The version, and which data a result would come from: the data folder and
// the ear-model file with its checksum.
void PrintVersion(std::ostream& out) {
  out << "korva-cli " KORVA_VERSION "\n";
  const std::optional<std::filesystem::path> dir = korva::FindDataDir();
  if (!dir) {
    out << "data folder: none (no Man.Fig in the current folder, in $KORVA_DATA_DIR or in the "
           "program's data folder)\n";
    return;
  }
  out << "data folder: " << dir->string() << "\n";
  try {
    const korva::ModelFileId model = korva::IdentifyModelFile(korva::ChooseModelFile({}, *dir));
    out << "ear model: " << model.file << "\near model SHA-256: " << model.sha256 << "\n";
  } catch (const korva::Error& e) {
    out << "ear model: " << e.what() << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A run allocates and frees buffers of hundreds of kilobytes per cochlear
  // place and transform. By default each comes fresh from the kernel and is
  // given back when freed, and touching the new pages costs a short run a
  // tenth of its time; korva-cli lives for one command, so it keeps what it
  // freed for the next buffer instead.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 64 << 20);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version") {
    PrintVersion(std::cout);
    return 0;
  }
  const auto& commands = korva::cli::Commands();
  auto found = commands.find(args[0]);
  if (found == commands.end()) {
    // Perhaps a command that draws.
    const std::string& no_drawing = korva::cli::LoadDrawing();
    found = commands.find(args[0]);
    if (found == commands.end() && !no_drawing.empty()) {
      std::cerr << "korva-cli: " << no_drawing << "\n";
    }
  }
  if (found == commands.end()) {
    std::cerr << "korva-cli: unknown command '" << args[0] << "'\n";
    PrintUsage(std::cerr);
    return 2;
  }
  const korva::cli::Command& command = found->second;
  args.erase(args.begin());
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      std::cout << command.help;
      return 0;
    }
  }
  korva::cli::Streams io{std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0};
  korva::cli::StopOnInterrupt();
  // A file read with something amiss (a KRV cut short) is named on stderr,
  // whatever the command does with it.
  korva::SetWarningSink(
      [](const std::string& warning) { std::cerr << "korva-cli: warning: " << warning << "\n"; });
  int status = 1;
  try {
    status = command.run(args, io);
  } catch (const korva::cli::UsageError& e) {
    std::cerr << "korva-cli " << command.name << ": " << e.what() << "\n"
              << "Try 'korva-cli " << command.name << " --help'.\n";
    return 2;
  } catch (const korva::Cancelled&) {
    // Reported below.
  } catch (const std::bad_alloc&) {
    std::cerr << "korva-cli: not enough memory\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "korva-cli: " << e.what() << "\n";
    return 1;
  } catch (...) {
    std::cerr << "korva-cli: unexpected error\n";
    return 1;
  }
  if (korva::cli::Interrupted()) {
    std::cerr << "korva-cli: interrupted\n";
    return korva::cli::kInterruptedStatus;
  }
  return status;
}
