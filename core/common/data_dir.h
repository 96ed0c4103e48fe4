// Where the program's data files are ("Man.Fig", the ear-model file, the
// protector table and its seed files, the pictures), and where the ones it
// rewrites go when that folder is the program's own.
//
// The program never writes into the data folder installed with it: a
// system-wide install is shared by every user and belongs to the package
// manager. A file it must rewrite there (the protector table, the
// noise-reduction table) is first copied to the user's data folder and read
// from there afterwards. A data folder of the user's own (the current folder,
// $KORVA_DATA_DIR) is rewritten in place.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace korva {

// The data folder installed with the program, found relative to the running
// executable (the relative path is fixed at build time, so an installed tree
// still works after it is moved). A binary in the build tree finds a link to
// the source tree's data folder in that place. Canonical; nothing when the
// folder does not exist.
std::optional<std::filesystem::path> ProgramDataDir();

// For a library loaded by a program that is not KORVA's own (the Python
// module): the data folder installed with the library, which ProgramDataDir()
// gives from then on instead of the one beside the executable. Called once,
// before the first lookup.
void SetProgramDataDir(const std::filesystem::path& folder);

// The folder that holds the program's data files: the current folder when
// `marker` is there, else $KORVA_DATA_DIR when `marker` is there, else
// ProgramDataDir() when `marker` is there. Nothing when none has it.
std::optional<std::filesystem::path> FindDataDir(std::string_view marker = "Man.Fig");

// The user's own data folder: $XDG_DATA_HOME/korva, else
// $HOME/.local/share/korva (a relative XDG_DATA_HOME is ignored, as the XDG
// base-directory rules ask). Nothing when neither gives an absolute folder.
std::optional<std::filesystem::path> UserDataDir();

// Whether `path` is the program's data folder or lies inside it.
bool InProgramDataDir(const std::filesystem::path& path);

// The data file `name` (relative to the data folder, "/" between folders;
// the last part found whatever its case) as the program reads it: in the
// program's own data folder the user's copy takes its place once there is
// one.
std::filesystem::path DataFileForReading(const std::filesystem::path& data_dir,
                                         std::string_view name);

// The same file, ready to be rewritten: in the program's own data folder it
// is first copied to the user's data folder (folders created, the copy made
// atomically, an existing copy kept) and the copy is returned; elsewhere the
// file itself. IoError when the copy cannot be made.
std::filesystem::path DataFileForWriting(const std::filesystem::path& data_dir,
                                         std::string_view name);

}  // namespace korva
