// End-to-end runs of "korva-cli protect" on a copy of the shipped protector
// table, with waveforms written by "korva-cli synth".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/common/files.h"
#include "core/protection/hpd_table.h"
#include "tests/cli/cli_support.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::CliOk;
using testing::JsonField;
using testing::Quoted;
using testing::TempDir;

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
    CliOk("synth --peak 150 --rate 100000 --samples 4096 " + Quoted(dir / "SHOT1.KRV"));
  }

  // "protect FILE" run in the folder, with the copied table and the model.
  std::string Protect(const std::string& options, int* status,
                      const std::string& file = "SHOT1.KRV") const {
    std::string out;
    *status = testing::Shell("cd " + Quoted(dir.path()) + " && " + KORVA_CLI_PATH + " protect " +
                                 file + " --table " + Quoted(table) + " --model " + Quoted(model) +
                                 " " + options,
                             &out);
    return out;
  }
};

TEST(CliProtect, ShippedProtectorsListAndPredict) {
  Workspace w;
  std::string out = CliOk("protect --list --table " + Quoted(w.table));
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
  CliOk("synth --peak 170 --rate 100000 --samples 4096 " + Quoted(w.dir / "SHOT1.KRV"));
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
  out = w.Protect("--protector EARMUFF", &status, "MISSING.KRV");
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("MISSING.KRV"), std::string::npos) << out;
  EXPECT_EQ(ReadWholeFile(w.table), before);
  EXPECT_NE(CliOk("protect --help").find("REWRITES THE PROTECTOR TABLE"), std::string::npos);
}

}  // namespace
}  // namespace korva
