#include "core/common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

#include "core/common/error.h"

namespace fs = std::filesystem;

namespace korva {

std::string ReadWholeFile(const fs::path& path, std::uint64_t max_bytes) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw IoError(WithFile(path.string(), "is a folder, not a file"));
  std::ifstream in(path, std::ios::binary);
  if (!in) ThrowSystemError(path.string(), "open the file");
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) ThrowSystemError(path.string(), "read the file");
  if (static_cast<std::uint64_t>(size) > max_bytes) {
    throw RangeError(
        WithFile(path.string(), "the file is larger than " + std::to_string(max_bytes) + " bytes"));
  }
  in.seekg(0, std::ios::beg);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in.read(bytes.data(), size)) ThrowSystemError(path.string(), "read the file");
  return bytes;
}

std::string ReadFileStart(const fs::path& path, std::size_t max_bytes) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw IoError(WithFile(path.string(), "is a folder, not a file"));
  std::ifstream in(path, std::ios::binary);
  if (!in) ThrowSystemError(path.string(), "open the file");
  std::string bytes(max_bytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(max_bytes));
  if (in.bad()) ThrowSystemError(path.string(), "read the file");
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

void WriteFileAtomically(const fs::path& path, std::string_view content) {
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) ThrowSystemError(path.string(), "create a temporary file in its folder");
  const auto fail = [&](const char* action) {
    const int code = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    errno = code;
    ThrowSystemError(path.string(), action);
  };
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      fail("write the file");
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  if (::fsync(fd) != 0) fail("write the file");
  // mkstemp creates the file for the owner only: keep the mode of the file
  // being replaced, or give a new file the usual 0644.
  struct stat old_status {};
  ::fchmod(fd, ::stat(path.c_str(), &old_status) == 0 ? (old_status.st_mode & 07777) : 0644);
  if (::close(fd) != 0) {
    ::unlink(temp.c_str());
    ThrowSystemError(path.string(), "write the file");
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int code = errno;
    ::unlink(temp.c_str());
    errno = code;
    ThrowSystemError(path.string(), "replace the file");
  }
}

bool PathExists(const fs::path& path) noexcept {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool IsFolder(const fs::path& path) noexcept {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::optional<fs::path> CurrentFolder() noexcept {
  try {
    std::error_code ec;
    fs::path here = fs::current_path(ec);
    if (ec) return std::nullopt;
    return here;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::string ToUpperAscii(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; });
  return upper;
}

std::optional<fs::path> FindCaseInsensitive(const fs::path& folder, std::string_view name) {
  const fs::path dir = folder.empty() ? fs::path(".") : folder;
  std::error_code ec;
  if (fs::exists(dir / name, ec)) return dir / name;
  const std::string wanted = ToUpperAscii(name);
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (ToUpperAscii(it->path().filename().string()) == wanted) return it->path();
  }
  return std::nullopt;
}

fs::path ResolveCaseInsensitive(const fs::path& path) {
  std::error_code ec;
  if (fs::exists(path, ec)) return path;
  if (auto found = FindCaseInsensitive(path.parent_path(), path.filename().string())) {
    return *found;
  }
  return path;
}

}  // namespace korva
