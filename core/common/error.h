// The kinds of failure every command can meet, and the stop a user may ask
// for. Each carries a message fit to show the user as it stands.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace korva {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An index outside an array's fixed range, or a value beyond a fixed limit.
class RangeError : public Error {
 public:
  RangeError() : Error("Range check error") {}
  explicit RangeError(const std::string& detail) : Error("Range check error: " + detail) {}
};

// A file that cannot be opened, read, created, written or renamed.
class IoError : public Error {
 public:
  using Error::Error;
};

// Content that cannot be what the file claims to be.
class FormatError : public Error {
 public:
  using Error::Error;
};

// The user asked a long computation to stop. Not a failure: front ends show
// no error for it, and leave the session and the files as they were.
class Cancelled : public Error {
 public:
  Cancelled() : Error("Cancelled") {}
};

// "FILE: reason" for an error met while working on FILE.
std::string WithFile(const std::string& file, const std::string& reason);

// IoError for FILE with the reason of the last failed system call (errno).
[[noreturn]] void ThrowSystemError(const std::string& file, const std::string& action);

// Something a reader found amiss in a file that it still read. Front ends
// without a session to attach it to (korva-cli) install a sink, which may be
// called from several threads at once; without one a warning goes nowhere.
using WarningSink = std::function<void(const std::string& warning)>;
void SetWarningSink(WarningSink sink);
void Warn(const std::string& warning);

}  // namespace korva
