// JSON text for the commands' --json output.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korva::cli {

// A JSON string literal. KRV files are 8-bit text: valid UTF-8 passes as it
// is and any other byte is taken as Latin-1, so the output is always valid JSON.
std::string JsonString(std::string_view text);

// Which ear-model file a result came from ("model_file", "model_sha256"):
// its absolute path and SHA-256. IoError when it cannot be read.
struct ModelFileId {
  std::string file;
  std::string sha256;
};
ModelFileId IdentifyModelFile(const std::filesystem::path& path);

}  // namespace korva::cli
