#include "core/common/error.h"

#include <cerrno>
#include <cstring>

namespace korva {

std::string WithFile(const std::string& file, const std::string& reason) {
  return file + ": " + reason;
}

void ThrowSystemError(const std::string& file, const std::string& action) {
  const int code = errno;
  throw IoError(WithFile(file, "cannot " + action + ": " + std::strerror(code)));
}

}  // namespace korva
