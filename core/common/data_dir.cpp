#include "core/common/data_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"

namespace fs = std::filesystem;

namespace korva {
namespace {

// An absolute folder named by the environment variable, if any.
std::optional<fs::path> AbsoluteFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0' || !fs::path(value).is_absolute()) return std::nullopt;
  return fs::path(value);
}

fs::path InFolder(const fs::path& folder, std::string_view name) {
  return ResolveCaseInsensitive(folder / fs::path(std::string(name)));
}

// The home folder of the account running the program, from the password
// database. The reentrant lookup: pool threads and the window's worker may
// ask at the same time.
std::optional<fs::path> AccountHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
    if (buffer.size() >= (std::size_t{1} << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr || found->pw_dir == nullptr || !fs::path(found->pw_dir).is_absolute()) {
    return std::nullopt;
  }
  return fs::path(found->pw_dir);
}

// The folder SetProgramDataDir() named, if any.
std::optional<fs::path>& LibraryDataDir() {
  static std::optional<fs::path> folder;
  return folder;
}

}  // namespace

void SetProgramDataDir(const fs::path& folder) {
  LibraryDataDir() = folder;
}

std::optional<fs::path> ProgramDataDir() {
  std::error_code ec;
  fs::path dir;
  if (const std::optional<fs::path>& library = LibraryDataDir()) {
    dir = fs::canonical(*library, ec);
  } else {
    const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    dir = fs::canonical(executable.parent_path() / KORVA_DATA_FROM_BIN, ec);
  }
  if (ec || !IsFolder(dir)) return std::nullopt;
  return dir;
}

std::optional<fs::path> FindDataDir(std::string_view marker) {
  std::vector<fs::path> candidates;
  if (auto here = CurrentFolder()) candidates.push_back(*here);
  if (const char* env = std::getenv("KORVA_DATA_DIR"); env != nullptr && *env != '\0') {
    candidates.emplace_back(env);
  }
  if (auto program = ProgramDataDir()) candidates.push_back(*program);
  for (const fs::path& dir : candidates) {
    if (FindCaseInsensitive(dir, marker)) return dir;
  }
  return std::nullopt;
}

std::optional<fs::path> UserDataDir() {
  if (auto xdg = AbsoluteFromEnvironment("XDG_DATA_HOME")) return *xdg / "korva";
  std::optional<fs::path> home = AbsoluteFromEnvironment("HOME");
  if (!home) home = AccountHome();
  if (!home) return std::nullopt;
  return *home / ".local" / "share" / "korva";
}

bool InProgramDataDir(const fs::path& path) {
  const std::optional<fs::path> program = ProgramDataDir();
  if (!program) return false;
  std::error_code ec;
  const fs::path full = fs::weakly_canonical(fs::absolute(path.empty() ? "." : path, ec), ec);
  if (ec) return false;
  const fs::path inside = full.lexically_relative(*program);
  return !inside.empty() && *inside.begin() != "..";
}

fs::path DataFileForReading(const fs::path& data_dir, std::string_view name) {
  if (InProgramDataDir(data_dir)) {
    if (const std::optional<fs::path> user = UserDataDir()) {
      const fs::path copy = InFolder(*user, name);
      if (PathExists(copy)) return copy;
    }
  }
  return InFolder(data_dir, name);
}

fs::path DataFileForWriting(const fs::path& data_dir, std::string_view name) {
  const fs::path own = InFolder(data_dir, name);
  if (!InProgramDataDir(data_dir)) return own;
  const std::optional<fs::path> user = UserDataDir();
  if (!user) {
    throw IoError(WithFile(own.string(),
                           "the program's data folder is not written, and no folder of the user's "
                           "own is known for a copy (set HOME or XDG_DATA_HOME)"));
  }
  const fs::path copy = InFolder(*user, name);
  if (PathExists(copy)) return copy;
  std::error_code ec;
  fs::create_directories(copy.parent_path(), ec);
  if (ec) {
    throw IoError(
        WithFile(copy.parent_path().string(), "cannot create the folder: " + ec.message()));
  }
  if (PathExists(own)) WriteFileAtomically(copy, ReadWholeFile(own));
  return copy;
}

}  // namespace korva
