// The hearing protector a command names (--protector NAME, --table FILE,
// --model FILE), found and checked before anything is computed or written.
#pragma once

#include <optional>
#include <string>

#include "app/cli/command.h"
#include "core/model/ear_model.h"
#include "core/protection/hpd_table.h"

namespace korva::cli {

// The table the options name, else the data folder's; nothing (after
// saying why) when there is none.
std::optional<ProtectorTableChoice> ChosenProtectorTable(const Args& args, Streams& io);

struct ChosenProtector {
  int record = -1;  // the default-mode record of the table
  std::string name;
  EarModelParameters ear_model;
  ModelFileId model_id;
};

// The ear model and the record named by --protector in `table`; nothing
// (after saying why, naming the file at fault) when either is not there.
std::optional<ChosenProtector> FindChosenProtector(const Args& args,
                                                   const std::filesystem::path& table, Streams& io);

}  // namespace korva::cli
