// The protector table "HPD Atten.txt" and the two seed files.
//
// The table: four free header lines, then records of four TAB-separated lines
// each: NAME with the frequencies (kHz) followed by a non-numeric field, MODE,
// CLASS and CODE; the attenuations (dB, negative for attenuation); their
// spreads; and the fitted circuit values (M1 = 0 or an empty field: not
// fitted yet, the seed file of the protector's kind stands in).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/protection/protector_model.h"

namespace korva {

inline constexpr const char* kProtectorTableName = "HPD Atten.txt";
inline constexpr const char* kPlugSeedName = "Seed_REAT_Values_Earplug.txt";
inline constexpr const char* kMuffSeedName = "Seed_REAT_Values_Earmuff.txt";
inline constexpr int kMaxProtectorRecords = 1001;
inline constexpr int kMaxProtectorFrequencies = 50;

// One record as the start-up scan sees it.
struct ProtectorRecord {
  int index = 0;            // record number in file order, from 0
  std::string name;         // upper-cased, the characters unfit for a file name replaced by "_"
  int frequency_count = 0;  // N
  std::vector<double> frequencies_khz;
  std::string mode;  // upper-cased, at most four characters
  char protector_class = ' ';
  std::string code;           // two characters
  std::string record_string;  // N-1 (2 digits), MODE (4), CLASS, CODE (2), NAME
  // Records that cannot be run (no frequencies, more than 50, a frequency that
  // is not positive, no MODE, fewer than four lines) get no menu item; `problem`
  // says why.
  std::string problem;
  bool usable() const { return problem.empty(); }
  bool default_mode() const { return usable() && !mode.empty() && mode[0] == 'D'; }
};

struct ProtectorTable {
  std::vector<ProtectorRecord> records;  // at most kMaxProtectorRecords
  bool truncated = false;                // the file holds more records than that

  // The indices of the records that become items under "DEFAULT MODE".
  std::vector<int> DefaultModeItems() const;
  // The default-mode record of that name (substituted, any case), if any.
  std::optional<int> FindDefaultMode(std::string_view name) const;
};

// NAME as the menu shows it: upper case, and each of " * - . / : < > ? \ |
// replaced by "_".
std::string ProtectorMenuName(std::string_view name);

ProtectorTable ParseProtectorTable(std::string_view content);
ProtectorTable ReadProtectorTable(const std::filesystem::path& path);

// The protector table a command reads and the folder of its seed files: the
// table given, with the seed files beside it, else "HPD Atten.txt" of the data
// folder (the user's copy of it once there is one) with that folder's seed
// files. IoError when none is given and no data folder has the table.
struct ProtectorTableChoice {
  std::filesystem::path table;
  std::filesystem::path seed_folder;
  std::optional<std::filesystem::path> data_dir;  // when the table is the data folder's
};
ProtectorTableChoice ChooseProtectorTable(const std::optional<std::filesystem::path>& given);

// What the CODE makes of the protector.
enum class ProtectorKindWord { kPlug, kMuff, kPlugPlusMuff };
struct ProtectorCodeInfo {
  int kind = 0;  // 0 plug, 1 muff or plug plus muff (chooses the seed file)
  ProtectorKindWord word = ProtectorKindWord::kPlug;
  std::string model_code;  // the code the command keeps
  int power_law = 0;       // 2 for a level-dependent plug fitted in open mode, else 0
};
// `previous_code`: the code kept by the previous protector command (a plug
// plus muff and unknown codes keep it).
ProtectorCodeInfo ClassifyProtectorCode(std::string_view code, std::string_view previous_code);
const char* KindText(ProtectorKindWord word);  // "Plug", "Muff", "Plug plus Muff"

// The fourteen numbers of a seed file (compliances stored as stiffnesses, the
// three secondary transitions set to 0). FormatError for a missing number or
// a zero compliance, IoError when unreadable.
ProtectorCircuit LoadSeedValues(const std::filesystem::path& path);

// The data of one record, read from the table as it is now.
struct ProtectorData {
  ProtectorRecord record;
  std::vector<double> frequencies_hz;
  std::vector<double> attenuation;
  std::vector<double> spread;
  std::vector<double> target;  // attenuation + 1.0 x spread
  // The circuit values of line 4, or nothing when M1 is 0 or empty.
  std::optional<ProtectorCircuit> circuit;
};
// Error when the record is missing, unusable, or its lines are short of
// numbers (a malformed line 4 is never written back).
ProtectorData ReadProtectorData(std::string_view content, int record_index);

// The fitted circuit values as written on line 4: a TAB, then M1, Kc, K4, R4,
// K1, R1, M2, R2, K3, M3, R3, cushion, secondary, leak-mass and
// leak-resistance transitions, each right-aligned in 12 characters (the
// shortest scientific form that reads back to the same single) followed by a
// TAB, then "Electro-acoustic Circuit Values" (no line end).
std::string FormatCircuitLine(const ProtectorCircuit& circuit);

// `content` with line 4 of record `record_index` replaced by
// FormatCircuitLine + CR LF; every other byte unchanged.
std::string ReplaceCircuitLine(std::string_view content, int record_index,
                               const ProtectorCircuit& circuit);

}  // namespace korva
