// SHA-256 (FIPS 180-4) checksums, so that a result can name the exact data
// file it came from: the ear-model file in --version and the JSON outputs,
// the inputs of a report.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korva {

// The checksum of `bytes` as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

// The checksum of a file's content, read in pieces (any size). IoError
// naming the file when it cannot be read.
std::string Sha256HexOfFile(const std::filesystem::path& path);

}  // namespace korva
