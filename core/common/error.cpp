#include "core/common/error.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace korva {

std::string WithFile(const std::string& file, const std::string& reason) {
  return file + ": " + reason;
}

void ThrowSystemError(const std::string& file, const std::string& action) {
  const int code = errno;
  throw IoError(WithFile(file, "cannot " + action + ": " + std::strerror(code)));
}

namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

WarningSink& Sink() {
  static WarningSink sink;
  return sink;
}

}  // namespace

void SetWarningSink(WarningSink sink) {
  const std::lock_guard lock(SinkMutex());
  Sink() = std::move(sink);
}

void Warn(const std::string& warning) {
  const std::lock_guard lock(SinkMutex());
  if (Sink()) Sink()(warning);
}

}  // namespace korva
