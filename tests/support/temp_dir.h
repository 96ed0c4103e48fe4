// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the test.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korva::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  // Writes `bytes` to the file `name` in the folder; returns its path.
  std::filesystem::path Write(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// Runs `command` through the shell; returns its exit status and, when
// `output` is given, its standard output.
int RunShell(const std::string& command, std::string* output = nullptr);

// RunShell with standard error joined to standard output, which `output`
// receives in place of what it held.
int Shell(const std::string& command, std::string* output);

// `path` in single quotes for a shell command line.
std::string Quoted(const std::filesystem::path& path);

}  // namespace korva::testing
