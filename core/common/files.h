// File helpers every reader and writer shares: whole-file reads, writes that
// never leave a half-written target and case-insensitive name lookup (the
// program's files carry fixed or upper-cased names; Linux folders are
// case-sensitive).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korva {

// The whole file as bytes. IoError naming the file when it cannot be read;
// RangeError when it is larger than `max_bytes`.
std::string ReadWholeFile(const std::filesystem::path& path, std::uint64_t max_bytes = UINT64_MAX);

// The first `max_bytes` bytes of the file (all of a shorter one): what a
// file's header says it is. IoError naming the file when it cannot be read.
std::string ReadFileStart(const std::filesystem::path& path, std::size_t max_bytes);

// Writes `content` to a temporary file in the target's folder and renames it
// over the target once complete: the old file survives any failure.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view content);

// The entry of `folder` whose name equals `name` ignoring ASCII case; an exact
// match wins. Nothing when there is none.
std::optional<std::filesystem::path> FindCaseInsensitive(const std::filesystem::path& folder,
                                                         std::string_view name);

// `path` if it exists, else the case-insensitive match in its folder, else `path`.
std::filesystem::path ResolveCaseInsensitive(const std::filesystem::path& path);

// Queries that never throw: a path that cannot be examined (its folder was
// deleted meanwhile, no permission) answers false or nothing. Interactive
// front ends use these, where an exception from std::filesystem would end
// the program instead of showing a message.
bool PathExists(const std::filesystem::path& path) noexcept;
bool IsFolder(const std::filesystem::path& path) noexcept;
// The process's current folder; nothing when it no longer exists.
std::optional<std::filesystem::path> CurrentFolder() noexcept;

// ASCII upper case.
std::string ToUpperAscii(std::string_view text);

}  // namespace korva
