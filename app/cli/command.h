// The subcommands of korva-cli. Each lives in its own file and registers
// itself with KORVA_CLI_COMMAND, so adding one touches nothing else.
#pragma once

#include <iosfwd>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/progress.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace korva::cli {

// Bad usage: exit status 2 with the message and a pointer to --help.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// GNU-style options: "--name value", "--name=value", "-x value", bare flags,
// and positional arguments ("--" ends the options).
class Args {
 public:
  // `with_value`: options that take a value; `flags`: options that do not.
  // Short names are given as "-j". Unknown options are a UsageError.
  Args(const std::vector<std::string>& argv, const std::set<std::string>& with_value,
       const std::set<std::string>& flags);

  bool Has(const std::string& option) const { return present_.count(option) > 0; }
  std::optional<std::string> Value(const std::string& option) const;
  // Every value of an option given more than once, in order (Value: the last).
  std::vector<std::string> Values(const std::string& option) const;
  const std::vector<std::string>& Positional() const { return positional_; }

  // The option's value as a number, or a UsageError naming the option.
  std::optional<double> Number(const std::string& option) const;
  std::optional<long long> Integer(const std::string& option) const;

 private:
  std::set<std::string> present_;
  std::map<std::string, std::string> values_;
  std::map<std::string, std::vector<std::string>> all_values_;
  std::vector<std::string> positional_;
};

struct Streams {
  std::ostream& out;
  std::ostream& err;
  bool err_is_terminal;
};

struct Command {
  const char* name;
  const char* summary;  // one line for the command list
  const char* help;     // the text of "korva-cli NAME --help"
  // Returns the exit status: 0 success, 1 bad input. Throws UsageError for bad usage.
  int (*run)(const std::vector<std::string>& args, Streams& io);
};

const std::map<std::string, Command>& Commands();

struct Registrar {
  explicit Registrar(const Command& command);
};

// Prints "korva-cli: FILE: message" (the file named once, also when the
// message already starts with it).
void ReportFileError(const std::string& file, const std::string& message, Streams& io);

// Ctrl-C. After StopOnInterrupt, the first SIGINT asks every running
// computation to stop at its next checkpoint: the command then ends with
// exit status 130, and since files are written only whole and only after
// the computation that fills them, none is left half-written. A second
// SIGINT ends the program at once.
void StopOnInterrupt();
bool Interrupted();
inline constexpr int kInterruptedStatus = 130;

// The progress of a command that shows none: quiet, but it stops on Ctrl-C.
class QuietProgress final : public ProgressSink {
 public:
  void Report(long long, long long) override {}
  bool StopRequested() const override { return Interrupted(); }
};

// Runs `body` for one input file and reports any failure against the file;
// returns false when it failed. A stop on Ctrl-C (Cancelled) is not a
// failure of the file: it goes on to end the command.
template <class Body>
bool ForFile(const std::string& file, Streams& io, Body&& body) {
  try {
    body();
    return true;
  } catch (const korva::Cancelled&) {
    throw;
  } catch (const std::bad_alloc&) {
    ReportFileError(file, "not enough memory", io);
  } catch (const std::exception& e) {
    ReportFileError(file, e.what(), io);
  }
  return false;
}

// Opens each of `files` as the window's Open does and runs
// `body(file, session)` on it; a failure is reported against its file and the
// others still run. Returns the exit status: 0 when every file succeeded.
template <class Body>
int ForEachWaveform(const std::vector<std::string>& files, Streams& io, Body&& body) {
  bool all_ok = true;
  for (const std::string& file : files) {
    all_ok &= ForFile(file, io, [&]() {
      Session session;
      QuietProgress progress;
      OpenWaveform(session, file, progress);
      body(file, session);
    });
  }
  return all_ok ? 0 : 1;
}

}  // namespace korva::cli

#define KORVA_CLI_CONCAT2(a, b) a##b
#define KORVA_CLI_CONCAT(a, b) KORVA_CLI_CONCAT2(a, b)
#define KORVA_CLI_COMMAND(...) \
  static const ::korva::cli::Registrar KORVA_CLI_CONCAT(korva_cli_registrar_, __LINE__)(__VA_ARGS__)
