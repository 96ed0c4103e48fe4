// End-to-end runs of "korva-cli protect" on a copy of the shipped protector
// table, with waveforms written by "korva-cli synth".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/common/files.h"
#include "core/protection/hpd_table.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::Shell;
using testing::TempDir;

const std::string kCli = KORVA_CLI_PATH;

std::string JsonField(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return "<missing " + key + ">";
  const std::size_t start = at + key.size() + 3;
  return json.substr(start, json.find_first_of(",}", start) - start);
}

// A folder with copies of the shipped table and seed files and a 150 dB shot.
struct Workspace {
  TempDir dir;
  std::string table;
  std::string model = (fs::path(KORVA_SOURCE_DATA_DIR) / "Human.par").string();

  Workspace() {
    for (const char* name : {kProtectorTableName, kPlugSeedName, kMuffSeedName}) {
      fs::copy_file(fs::path(KORVA_SOURCE_DATA_DIR) / name, dir / name);
    }
    table = (dir / kProtectorTableName).string();
    std::string out;
    EXPECT_EQ(Shell(kCli + " synth --peak 150 --rate 100000 --samples 4096 '" +
                        (dir / "SHOT1.KRV").string() + "'",
                    &out),
              0)
        << out;
  }

  std::string Protect(const std::string& options, int* status) const {
    std::string out;
    *status = Shell("cd '" + dir.path().string() + "' && " + kCli + " protect SHOT1.KRV --table '" +
                        table + "' --model '" + model + "' " + options,
                    &out);
    return out;
  }
};

TEST(CliProtect, ShippedProtectorsListAndPredict) {
  Workspace w;
  std::string out;
  ASSERT_EQ(Shell(kCli + " protect --list --table '" + w.table + "'", &out), 0) << out;
  for (const char* name :
       {"FOAM_EARPLUG\tPlug", "EARMUFF\tMuff", "FOAM_EARPLUG+EARMUFF\tPlug plus Muff",
        "LEVEL_DEPENDENT_EARPLUG_OPEN\tPlug\tNO", "GENERIC_EARMUFF\tMuff"}) {
    EXPECT_NE(out.find(name), std::string::npos) << name << " in\n" << out;
  }

  // A fitted record: the table is rewritten in the form it already has, so
  // it stays byte for byte the same.
  const std::string before = ReadWholeFile(w.table);
  int status = 0;
  out = w.Protect("--protector foam-earplug --json", &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(JsonField(out, "kind"), "\"Plug\"");
  EXPECT_EQ(JsonField(out, "seeded"), "false");
  EXPECT_EQ(JsonField(out, "rms_error_db"), "0.265");
  EXPECT_EQ(JsonField(out, "samples"), "4096");
  EXPECT_NEAR(std::stod(JsonField(out, "peak_free_field_db")), 150.0, 0.1);
  EXPECT_EQ(JsonField(out, "table_rewritten"), "true");
  const double ipil = std::stod(JsonField(out, "peak_insertion_loss_db"));
  EXPECT_GT(ipil, 25.0);
  EXPECT_LT(ipil, 45.0);
  EXPECT_TRUE(fs::exists(w.dir / "SHOT1_FOAM_EARPLUG_90.KRV"));
  EXPECT_EQ(ReadWholeFile(w.table), before);

  // The level-dependent plug lets a quiet impulse through more than a loud one.
  out = w.Protect("--protector LEVEL-DEPENDENT-EARPLUG-OPEN --json", &status);
  ASSERT_EQ(status, 0) << out;
  const double ipil150 = std::stod(JsonField(out, "peak_insertion_loss_db"));
  ASSERT_EQ(Shell(kCli + " synth --peak 170 --rate 100000 --samples 4096 '" +
                      (w.dir / "SHOT1.KRV").string() + "'",
                  &out),
            0);
  out = w.Protect("--protector LEVEL-DEPENDENT-EARPLUG-OPEN --json", &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_GT(std::stod(JsonField(out, "peak_insertion_loss_db")), ipil150 + 5.0);
}

TEST(CliProtect, BadRequestsChangeNothing) {
  Workspace w;
  const std::string before = ReadWholeFile(w.table);
  int status = 0;
  std::string out = w.Protect("--protector NO-SUCH-PLUG", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("no default-mode protector named"), std::string::npos) << out;
  out = w.Protect("", &status);
  EXPECT_EQ(status, 2) << out;
  ASSERT_EQ(Shell("cd '" + w.dir.path().string() + "' && " + kCli +
                      " protect MISSING.KRV --protector EARMUFF --table '" + w.table +
                      "' --model '" + w.model + "'",
                  &out),
            1);
  EXPECT_NE(out.find("MISSING.KRV"), std::string::npos) << out;
  EXPECT_EQ(ReadWholeFile(w.table), before);
  ASSERT_EQ(Shell(kCli + " protect --help", &out), 0);
  EXPECT_NE(out.find("REWRITES THE PROTECTOR TABLE"), std::string::npos) << out;
}

}  // namespace
}  // namespace korva
