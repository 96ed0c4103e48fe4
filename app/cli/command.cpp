#include "app/cli/command.h"

#include <signal.h>

#include <atomic>
#include <ostream>

#include "core/common/numbers.h"

namespace korva::cli {

namespace {
std::map<std::string, Command>& Registry() {
  static std::map<std::string, Command> registry;
  return registry;
}

// Lock-free, so the signal handler may set it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  interrupted.store(true);
}
}  // namespace

void StopOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume (a write in progress completes); the
  // handler is used once, so a second Ctrl-C ends the program.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() {
  return interrupted.load();
}

const std::map<std::string, Command>& Commands() {
  return Registry();
}

Registrar::Registrar(const Command& command) {
  Registry().emplace(command.name, command);
}

Args::Args(const std::vector<std::string>& argv, const std::set<std::string>& with_value,
           const std::set<std::string>& flags) {
  bool options_ended = false;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inline_value;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    if (with_value.count(name) > 0) {
      if (!inline_value) {
        if (i + 1 >= argv.size()) throw UsageError("option " + name + " needs a value");
        inline_value = argv[++i];
      }
      present_.insert(name);
      values_[name] = *inline_value;
      all_values_[name].push_back(*inline_value);
    } else if (flags.count(name) > 0 && !inline_value) {
      present_.insert(name);
    } else {
      throw UsageError("unknown option " + arg);
    }
  }
}

std::optional<std::string> Args::Value(const std::string& option) const {
  const auto found = values_.find(option);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::vector<std::string> Args::Values(const std::string& option) const {
  const auto found = all_values_.find(option);
  return found == all_values_.end() ? std::vector<std::string>{} : found->second;
}

std::optional<double> Args::Number(const std::string& option) const {
  const auto text = Value(option);
  if (!text) return std::nullopt;
  const auto value = ParseWholeNumber(*text);
  if (!value) throw UsageError("option " + option + " needs a number, not '" + *text + "'");
  return value;
}

std::optional<long long> Args::Integer(const std::string& option) const {
  const auto text = Value(option);
  if (!text) return std::nullopt;
  const auto value = ParseWholeInteger(*text);
  if (!value) throw UsageError("option " + option + " needs an integer, not '" + *text + "'");
  return value;
}

void ReportFileError(const std::string& file, const std::string& message, Streams& io) {
  io.err << "korva-cli: ";
  if (message.rfind(file, 0) != 0) io.err << file << ": ";
  io.err << message << "\n";
}

}  // namespace korva::cli
