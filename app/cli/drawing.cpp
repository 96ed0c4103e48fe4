#include "app/cli/drawing.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace korva::cli {
namespace {

namespace fs = std::filesystem;

std::string Load() {
#ifndef KORVA_DRAW_FROM_BIN
  return "this korva-cli was built without Qt: it does not draw";
#else
  std::error_code ec;
  const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "cannot find the folder of korva-cli: " + ec.message();
  const fs::path folder = executable.parent_path();
  // The build tree keeps the module beside the program, an installed tree in
  // its library folder.
  const std::vector<fs::path> candidates = {
      folder / "korva-cli-draw.so",
      (folder / KORVA_DRAW_FROM_BIN / "korva-cli-draw.so").lexically_normal()};
  for (const fs::path& module : candidates) {
    if (!fs::exists(module, ec)) continue;
    // The module's commands register themselves as it loads; it stays
    // loaded for the process.
    if (dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr) return "";
    const char* reason = dlerror();
    return "cannot load the drawing commands from " + module.string() + ": " +
           (reason != nullptr ? reason : "unknown reason");
  }
  return "the drawing commands' module is missing: korva-cli looked for " +
         candidates.back().string();
#endif
}

}  // namespace

const std::string& LoadDrawing() {
  static const std::string why = Load();
  return why;
}

}  // namespace korva::cli
